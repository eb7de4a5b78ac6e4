// Request/response over UDP with a fixed number of requests outstanding,
// all from one socket, received and sent in batches (recvmmsg, sendmmsg) so
// that the generator costs little per request. Replies may come from any
// source port (Velmora answers from a fresh socket). A request unanswered
// after `loss_after` seconds counts as lost and its slot sends the next one.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include "load.h"

namespace {

constexpr double loss_after = 0.2;
constexpr int largest = 512;

enum class kind { echo, dns };

struct slot {
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

constexpr int batch = 64;

std::uint32_t next_sequence = 1;

// An echo request: sequence number, then a fixed pattern.
int build_echo(unsigned char* out, int size, std::uint32_t sequence)
{
    for (int i = 0; i < size; ++i) out[i] = static_cast<unsigned char>('a' + i % 26);
    std::memcpy(out, &sequence, sizeof sequence);
    return size;
}

// A standard query, recursion desired, for bench<n>.velmora.test type A;
// the ID is the low 16 bits of the sequence number.
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

// The slot a reply belongs to, or -1 for a late or foreign datagram.
int owner(kind k, const std::vector<slot>& slots, const unsigned char* reply, int length)
{
    for (size_t i = 0; i < slots.size(); ++i) {
        const slot& s = slots[i];
        if (k == kind::echo) {
            if (length == s.length && std::memcmp(reply, s.request, static_cast<size_t>(length)) == 0)
                return static_cast<int>(i);
        } else if (length >= s.length && reply[0] == s.request[0] && reply[1] == s.request[1] && (reply[2] & 0x80) != 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

void prepare(kind k, slot& s, int index, int payload)
{
    s.sequence = next_sequence++;
    s.length = k == kind::echo ? build_echo(s.request, payload, s.sequence) : build_query(s.request, s.sequence, index);
}

// Sends the prepared requests of the listed slots in one call.
void send_all(int fd, std::vector<slot>& slots, const std::vector<int>& which, const target& t, counts& c)
{
    mmsghdr messages[batch];
    iovec pieces[batch];
    size_t done = 0;
    while (done < which.size()) {
        const size_t n = std::min<size_t>(batch, which.size() - done);
        const double now = now_seconds();
        for (size_t i = 0; i < n; ++i) {
            slot& s = slots[static_cast<size_t>(which[done + i])];
            s.sent_at = now;
            pieces[i] = {s.request, static_cast<size_t>(s.length)};
            messages[i] = {};
            messages[i].msg_hdr.msg_name = const_cast<sockaddr_storage*>(&t.address);
            messages[i].msg_hdr.msg_namelen = t.length;
            messages[i].msg_hdr.msg_iov = &pieces[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int sent = ::sendmmsg(fd, messages, static_cast<unsigned>(n), 0);
        c.sent += static_cast<long>(n);
        if (sent < static_cast<int>(n)) c.send_failures += static_cast<long>(n) - (sent > 0 ? sent : 0);
        done += n;
    }
}

int exchange(kind k, const options& o, const target& t)
{
    const int payload = o.payload < 8 ? 8 : (o.payload > 255 ? 255 : o.payload);
    const int fd = datagram_socket(t);
    // Blocking receives that wait at most 10 ms: the wait and the receive
    // of every reply already queued are one call (MSG_WAITFORONE).
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const timeval wait_at_most{0, 10000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait_at_most, sizeof wait_at_most);
    std::vector<slot> slots(static_cast<size_t>(o.outstanding));
    std::vector<int> due;
    counts c;
    report_start();
    const double begin = now_seconds();
    const double end = begin + o.seconds;
    for (size_t i = 0; i < slots.size(); ++i) {
        prepare(k, slots[i], static_cast<int>(i), payload);
        due.push_back(static_cast<int>(i));
    }
    send_all(fd, slots, due, t, c);
    static unsigned char replies[batch][2048];
    mmsghdr messages[batch];
    iovec pieces[batch];
    double now = begin;
    double last_scan = begin;
    while (now < end && c.sent < o.max_operations) {
        for (int i = 0; i < batch; ++i) {
            pieces[i] = {replies[i], sizeof replies[i]};
            messages[i] = {};
            messages[i].msg_hdr.msg_iov = &pieces[i];
            messages[i].msg_hdr.msg_iovlen = 1;
        }
        const int got = ::recvmmsg(fd, messages, batch, MSG_WAITFORONE, nullptr);
        due.clear();
        for (int i = 0; i < got; ++i) {
            const int index = owner(k, slots, replies[i], static_cast<int>(messages[i].msg_len));
            if (index < 0) {
                ++c.stray;
                continue;
            }
            ++c.answered;
            prepare(k, slots[static_cast<size_t>(index)], index, payload);
            due.push_back(index);
        }
        now = now_seconds();
        if (now - last_scan > 0.01) {
            last_scan = now;
            for (size_t i = 0; i < slots.size(); ++i) {
                if (now - slots[i].sent_at <= loss_after) continue;
                bool queued = false;
                for (int d : due) queued = queued || d == static_cast<int>(i);
                if (queued) continue;
                ++c.lost;
                prepare(k, slots[i], static_cast<int>(i), payload);
                due.push_back(static_cast<int>(i));
            }
        }
        if (!due.empty() && c.sent < o.max_operations) send_all(fd, slots, due, t, c);
    }
    report_stop();
    const double elapsed = now_seconds() - begin;
    ::close(fd);
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
