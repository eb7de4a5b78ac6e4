// TCP echo throughput: every connection keeps up to `window` bytes in
// flight, writes a repeating pattern and checks what comes back.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <unistd.h>

#include "load.h"

namespace {

constexpr long chunk = 16384;
constexpr long window = 65536;
constexpr long period = 251;

struct connection {
    int fd = -1;
    long sent = 0;
    long received = 0;
    bool broken = false;
};

struct totals {
    long bytes = 0;
    long reads = 0;
    long mismatches = 0;
};

unsigned char pattern[chunk + period];
unsigned char incoming[window];

void read_back(connection& c, totals& sum)
{
    for (;;) {
        const ssize_t n = ::recv(c.fd, incoming, sizeof incoming, 0);
        if (n > 0) {
            // Check against the pattern in pieces no longer than a chunk.
            for (long done = 0; done < n;) {
                const long piece = std::min<long>(chunk, n - done);
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

void write_more(connection& c)
{
    while (!c.broken && c.sent - c.received < window) {
        const long room = std::min(chunk, window - (c.sent - c.received));
        const ssize_t n = ::send(c.fd, pattern + c.sent % period, static_cast<size_t>(room), MSG_NOSIGNAL);
        if (n > 0) {
            c.sent += n;
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
        if (n < 0 && errno == EINTR) continue;
        c.broken = true;
    }
}

} // namespace

int measure_tcp_echo(const options& o, const target& t)
{
    for (long i = 0; i < chunk + period; ++i) pattern[i] = static_cast<unsigned char>(i % period);
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
        if (c.fd >= 0) write_more(c);
    epoll_event events[64];
    double now = start;
    while (now < end && sum.reads < o.max_operations) {
        const int n = ::epoll_wait(ep, events, 64, 50);
        for (int i = 0; i < n; ++i) {
            connection& c = connections[events[i].data.u64];
            if (c.broken) continue;
            read_back(c, sum);
            write_more(c);
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
    const std::string details = "connections=" + std::to_string(o.connections) + " opened=" + std::to_string(opened) +
                                " broken=" + std::to_string(broken) + " mismatches=" + std::to_string(sum.mismatches) +
                                " bytes=" + std::to_string(sum.bytes) + " seconds=" + std::to_string(elapsed);
    report(o.connections == 1 ? "tcp-echo-1" : "tcp-echo-" + std::to_string(o.connections),
           static_cast<double>(sum.bytes) / elapsed / 1e6, "MB/s", details);
    return opened == o.connections && sum.mismatches == 0 ? 0 : 1;
}
