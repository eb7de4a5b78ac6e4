// Request/response over UDP with a fixed number of requests outstanding,
// each slot on a socket of its own. Replies may come from any source port
// (Velmora answers from a fresh socket). A request unanswered after
// `loss_after` seconds counts as lost and the slot sends the next one.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <unistd.h>

#include "load.h"

namespace {

constexpr double loss_after = 0.2;
constexpr int largest = 512;

enum class kind { echo, dns };

struct slot {
    int fd = -1;
    std::uint32_t sequence = 0;
    double sent_at = 0;
    unsigned char request[largest];
    int length = 0;
};

struct counts {
    long sent = 0;
    long answered = 0;
    long lost = 0;
    long stray = 0;
    long send_failures = 0;
};

std::uint32_t next_sequence = 1;

// An echo request: sequence number, slot number, then a fixed pattern.
int build_echo(unsigned char* out, int size, std::uint32_t sequence, int index)
{
    for (int i = 0; i < size; ++i) out[i] = static_cast<unsigned char>('a' + i % 26);
    std::memcpy(out, &sequence, sizeof sequence);
    out[4] = static_cast<unsigned char>(index);
    return size;
}

// A standard query, recursion desired, for bench<slot>.velmora.test type A.
int build_query(unsigned char* out, std::uint32_t sequence, int index)
{
    const unsigned char header[12] = {static_cast<unsigned char>(sequence >> 8), static_cast<unsigned char>(sequence),
                                      0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0};
    std::memcpy(out, header, sizeof header);
    int n = 12;
    char label[16];
    const int label_length = std::snprintf(label, sizeof label, "bench%d", index % 1000);
    out[n++] = static_cast<unsigned char>(label_length);
    std::memcpy(out + n, label, static_cast<size_t>(label_length));
    n += label_length;
    const unsigned char rest[] = {7, 'v', 'e', 'l', 'm', 'o', 'r', 'a', 4, 't', 'e', 's', 't', 0, 0, 1, 0, 1};
    std::memcpy(out + n, rest, sizeof rest);
    return n + static_cast<int>(sizeof rest);
}

bool answers(kind k, const slot& s, const unsigned char* reply, int length)
{
    if (k == kind::echo) return length == s.length && std::memcmp(reply, s.request, static_cast<size_t>(length)) == 0;
    return length >= s.length && reply[0] == s.request[0] && reply[1] == s.request[1] && (reply[2] & 0x80) != 0;
}

void send_next(kind k, slot& s, int index, int payload, const target& t, counts& c)
{
    s.sequence = next_sequence++;
    s.length = k == kind::echo ? build_echo(s.request, payload, s.sequence, index) : build_query(s.request, s.sequence, index);
    s.sent_at = now_seconds();
    ++c.sent;
    if (::sendto(s.fd, s.request, static_cast<size_t>(s.length), 0, reinterpret_cast<const sockaddr*>(&t.address),
                 t.length) < 0)
        ++c.send_failures;
}

int exchange(kind k, const options& o, const target& t)
{
    const int payload = o.payload < 8 ? 8 : (o.payload > 255 ? 255 : o.payload);
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    std::vector<slot> slots(static_cast<size_t>(o.outstanding));
    for (size_t i = 0; i < slots.size(); ++i) {
        slots[i].fd = datagram_socket(t);
        epoll_event e{};
        e.events = EPOLLIN;
        e.data.u64 = i;
        ::epoll_ctl(ep, EPOLL_CTL_ADD, slots[i].fd, &e);
    }
    counts c;
    const double begin = now_seconds();
    const double end = begin + o.seconds;
    for (size_t i = 0; i < slots.size(); ++i) send_next(k, slots[i], static_cast<int>(i), payload, t, c);
    epoll_event events[256];
    unsigned char reply[2048];
    double now = begin;
    while (now < end && c.sent < o.max_operations) {
        const int n = ::epoll_wait(ep, events, 256, 10);
        for (int i = 0; i < n; ++i) {
            const size_t index = events[i].data.u64;
            slot& s = slots[index];
            for (;;) {
                const ssize_t got = ::recv(s.fd, reply, sizeof reply, 0);
                if (got < 0) break;
                if (!answers(k, s, reply, static_cast<int>(got))) {
                    ++c.stray;
                    continue;
                }
                ++c.answered;
                if (c.sent < o.max_operations) send_next(k, s, static_cast<int>(index), payload, t, c);
            }
        }
        now = now_seconds();
        for (size_t i = 0; i < slots.size(); ++i) {
            if (now - slots[i].sent_at <= loss_after) continue;
            ++c.lost;
            send_next(k, slots[i], static_cast<int>(i), payload, t, c);
        }
    }
    const double elapsed = now_seconds() - begin;
    for (slot& s : slots) ::close(s.fd);
    ::close(ep);
    const std::string details = "outstanding=" + std::to_string(o.outstanding) + " bytes=" +
                                std::to_string(k == kind::echo ? payload : slots[0].length) +
                                " sent=" + std::to_string(c.sent) + " answered=" + std::to_string(c.answered) +
                                " lost=" + std::to_string(c.lost) + " stray=" + std::to_string(c.stray) +
                                " send_failures=" + std::to_string(c.send_failures) + " seconds=" + std::to_string(elapsed);
    report(k == kind::echo ? "udp-echo" : "dns", static_cast<double>(c.answered) / elapsed, k == kind::echo ? "req/s" : "qps",
           details);
    return c.answered > 0 ? 0 : 1;
}

} // namespace

int measure_udp_echo(const options& o, const target& t) { return exchange(kind::echo, o, t); }

int measure_dns(const options& o, const target& t) { return exchange(kind::dns, o, t); }
