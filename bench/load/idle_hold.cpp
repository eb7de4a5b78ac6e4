// Idle connections: opens `count` echo connections (a bounded number of
// connects in flight at a time), proves each one served by a one-byte echo,
// holds them all open, and reports the server's memory per connection.
#include <cerrno>
#include <cstdio>
#include <sys/epoll.h>
#include <unistd.h>

#include "load.h"

namespace {

constexpr int in_flight_limit = 256;
constexpr double settle_seconds = 1.0;

enum class stage { idle, connecting, waiting, held, failed };

struct client {
    int fd = -1;
    stage at = stage::idle;
    double started = 0;
};

struct memory {
    long rss = 0;
    long pss = 0;
    int processes = 0;
    long threads = 0;
};

memory sample(long pid)
{
    memory m;
    if (pid <= 0) return m;
    m.rss = memory_rss_kib(pid);
    m.pss = memory_pss_tree_kib(pid, &m.processes);
    m.threads = thread_count(pid);
    return m;
}

void drop(client& c, stage why)
{
    ::close(c.fd);
    c.fd = -1;
    c.at = why;
}

} // namespace

int measure_idle(const options& o, const target& t)
{
    raise_open_files(o.count + 1024L);
    const memory before = sample(o.pid);
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    std::vector<client> clients(static_cast<size_t>(o.count));
    report_start();
    const double begin = now_seconds();
    const double end = begin + o.seconds;
    size_t next = 0;
    long in_flight = 0;
    long held = 0;
    long failed = 0;
    long timeouts = 0;
    epoll_event events[256];
    while (now_seconds() < end && held + failed < o.count) {
        while (next < clients.size() && in_flight < in_flight_limit) {
            client& c = clients[next++];
            c.started = now_seconds();
            c.fd = connect_started(t);
            if (c.fd < 0) {
                c.at = stage::failed;
                ++failed;
                continue;
            }
            c.at = stage::connecting;
            ++in_flight;
            epoll_watch(ep, EPOLL_CTL_ADD, c.fd, EPOLLOUT, &c);
        }
        const int k = ::epoll_wait(ep, events, 256, 20);
        for (int i = 0; i < k; ++i) {
            client& c = *static_cast<client*>(events[i].data.ptr);
            if (events[i].events & EPOLLERR) {
                drop(c, stage::failed);
                ++failed;
                --in_flight;
                continue;
            }
            if (c.at == stage::connecting) {
                const char byte = 'i';
                if (::send(c.fd, &byte, 1, MSG_NOSIGNAL) != 1) {
                    drop(c, stage::failed);
                    ++failed;
                    --in_flight;
                    continue;
                }
                c.at = stage::waiting;
                epoll_watch(ep, EPOLL_CTL_MOD, c.fd, EPOLLIN, &c);
            } else if (c.at == stage::waiting) {
                char byte = 0;
                const ssize_t got = ::recv(c.fd, &byte, 1, 0);
                if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
                --in_flight;
                if (got == 1) {
                    c.at = stage::held;
                    ++held;
                    ::epoll_ctl(ep, EPOLL_CTL_DEL, c.fd, nullptr);
                } else {
                    drop(c, stage::failed);
                    ++failed;
                }
            }
        }
        // A connection that has not been served in ten seconds is given up.
        const double now = now_seconds();
        for (size_t i = 0; i < next; ++i) {
            client& c = clients[i];
            if ((c.at == stage::connecting || c.at == stage::waiting) && now - c.started > 10.0) {
                drop(c, stage::failed);
                ++failed;
                ++timeouts;
                --in_flight;
            }
        }
    }
    const double opened_in = now_seconds() - begin;
    ::usleep(static_cast<useconds_t>(settle_seconds * 1e6));
    const memory after = sample(o.pid);
    for (client& c : clients)
        if (c.fd >= 0) ::close(c.fd);
    ::close(ep);
    const double per = held > 0 ? 1.0 / static_cast<double>(held) : 0;
    char details[512];
    std::snprintf(details, sizeof details,
                  "count=%d held=%ld failed=%ld timeouts=%ld open_seconds=%.2f rss_before_kib=%ld rss_after_kib=%ld "
                  "rss_per_conn_kib=%.2f pss_before_kib=%ld pss_after_kib=%ld pss_per_conn_kib=%.2f "
                  "processes=%d threads=%ld",
                  o.count, held, failed, timeouts, opened_in, before.rss, after.rss,
                  static_cast<double>(after.rss - before.rss) * per, before.pss, after.pss,
                  static_cast<double>(after.pss - before.pss) * per, after.processes, after.threads);
    report("idle", static_cast<double>(held), "held", details);
    return 0;
}
