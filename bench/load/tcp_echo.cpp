// TCP echo throughput: every connection writes a repeating pattern in sends
// of one block each, keeps at most `in_flight` bytes on their way (whole
// blocks: a block is written only when all of it fits), and checks what
// comes back. The measure is named after its pattern, connections, block
// and bytes in flight: "tcp-echo-50-4k-16k".
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <unistd.h>

#include "load.h"

namespace {

constexpr long period = 251;
// What the pattern is compared against in one piece.
constexpr long check_piece = 16384;

struct connection {
    int fd = -1;
    long sent = 0;
    long received = 0;
    long block_left = 0; // of the block being written
    bool broken = false;
};

struct totals {
    long bytes = 0;
    long reads = 0;
    long mismatches = 0;
};

struct pattern_sizes {
    long block;
    long in_flight;
};

void read_back(connection& c, totals& sum, const pattern_sizes& p, const unsigned char* pattern, unsigned char* incoming)
{
    for (;;) {
        const ssize_t n = ::recv(c.fd, incoming, static_cast<size_t>(p.in_flight), 0);
        if (n > 0) {
            for (long done = 0; done < n;) {
                const long piece = std::min<long>(check_piece, n - done);
                if (std::memcmp(incoming + done, pattern + (c.received + done) % period, static_cast<size_t>(piece)) != 0)
                    ++sum.mismatches;
                done += piece;
            }
            c.received += n;
            sum.bytes += n;
            ++sum.reads;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n < 0 && errno == EINTR) continue;
        c.broken = true;
        return;
    }
}

void write_more(connection& c, const pattern_sizes& p, const unsigned char* pattern)
{
    while (!c.broken) {
        if (c.block_left == 0) {
            if (c.sent - c.received + p.block > p.in_flight) return;
            c.block_left = p.block;
        }
        const long piece = std::min(c.block_left, std::max(check_piece, p.block));
        const ssize_t n = ::send(c.fd, pattern + c.sent % period, static_cast<size_t>(piece), MSG_NOSIGNAL);
        if (n > 0) {
            c.sent += n;
            c.block_left -= n;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n < 0 && errno == EINTR) continue;
        c.broken = true;
    }
}

// "512", "4k": a size as the measure's name gives it.
std::string size_name(long bytes)
{
    return bytes % 1024 == 0 ? std::to_string(bytes / 1024) + "k" : std::to_string(bytes);
}

} // namespace

int measure_tcp_echo(const options& o, const target& t)
{
    const pattern_sizes p{o.block, o.in_flight};
    std::vector<unsigned char> pattern(static_cast<size_t>(std::max(check_piece, p.block) + period));
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<unsigned char>(i % period);
    std::vector<unsigned char> incoming(static_cast<size_t>(p.in_flight));
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    std::vector<connection> connections(static_cast<size_t>(o.connections));
    int opened = 0;
    for (size_t i = 0; i < connections.size(); ++i) {
        connections[i].fd = connect_waited(t, 5.0);
        if (connections[i].fd < 0) continue;
        ++opened;
        epoll_event e{};
        e.events = EPOLLIN | EPOLLOUT | EPOLLET;
        e.data.u64 = i;
        ::epoll_ctl(ep, EPOLL_CTL_ADD, connections[i].fd, &e);
    }
    totals sum;
    report_start();
    const double start = now_seconds();
    const double end = start + o.seconds;
    for (connection& c : connections)
        if (c.fd >= 0) write_more(c, p, pattern.data());
    epoll_event events[64];
    double now = start;
    while (now < end && sum.reads < o.max_operations) {
        const int n = ::epoll_wait(ep, events, 64, 50);
        for (int i = 0; i < n; ++i) {
            connection& c = connections[events[i].data.u64];
            if (c.broken) continue;
            read_back(c, sum, p, pattern.data(), incoming.data());
            write_more(c, p, pattern.data());
            if (c.broken) ::epoll_ctl(ep, EPOLL_CTL_DEL, c.fd, nullptr);
        }
        now = now_seconds();
    }
    report_stop();
    const double elapsed = now - start;
    int broken = 0;
    for (connection& c : connections) {
        if (c.broken) ++broken;
        if (c.fd >= 0) ::close(c.fd);
    }
    ::close(ep);
    const std::string details = "connections=" + std::to_string(o.connections) + " block=" + std::to_string(p.block) +
                                " in_flight=" + std::to_string(p.in_flight) + " opened=" + std::to_string(opened) +
                                " broken=" + std::to_string(broken) + " mismatches=" + std::to_string(sum.mismatches) +
                                " bytes=" + std::to_string(sum.bytes) + " seconds=" + std::to_string(elapsed);
    report("tcp-echo-" + std::to_string(o.connections) + "-" + size_name(p.block) + "-" + size_name(p.in_flight),
           static_cast<double>(sum.bytes) / elapsed / 1e6, "MB/s", details);
    return opened == o.connections && sum.mismatches == 0 ? 0 : 1;
}
