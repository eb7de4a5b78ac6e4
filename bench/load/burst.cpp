// A burst: `count` connections to an echo port opened at once; each sends a
// short message and waits for it to come back. Counts what was served, what
// was reset or refused, and what was still waiting when the time ran out.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/epoll.h>
#include <unistd.h>

#include "load.h"

namespace {

constexpr int message_size = 32;

enum class stage { connecting, waiting, done };

struct client {
    int fd = -1;
    stage at = stage::connecting;
    int received = 0;
    char message[message_size];
};

struct counts {
    long served = 0;
    long reset = 0;
    long refused = 0;
    long closed = 0;
    long other = 0;
    double last_served = 0;
};

void fail(client& c, int error, counts& n)
{
    if (error == ECONNRESET || error == EPIPE) ++n.reset;
    else if (error == ECONNREFUSED) ++n.refused;
    else ++n.other;
    ::close(c.fd);
    c.at = stage::done;
}

void on_event(client& c, unsigned events, int ep, counts& n, double begin)
{
    if (events & EPOLLERR) {
        fail(c, pending_error(c.fd), n);
        return;
    }
    if (c.at == stage::connecting && (events & EPOLLOUT)) {
        if (::send(c.fd, c.message, message_size, MSG_NOSIGNAL) != message_size) {
            fail(c, errno, n);
            return;
        }
        c.at = stage::waiting;
        epoll_watch(ep, EPOLL_CTL_MOD, c.fd, EPOLLIN, &c);
        return;
    }
    if (c.at != stage::waiting) return;
    char buffer[message_size];
    const ssize_t got = ::recv(c.fd, buffer, static_cast<size_t>(message_size - c.received), 0);
    if (got < 0) {
        if (errno != EAGAIN && errno != EINTR) fail(c, errno, n);
        return;
    }
    if (got == 0) {
        ++n.closed;
        ::close(c.fd);
        c.at = stage::done;
        return;
    }
    c.received += static_cast<int>(got);
    if (c.received < message_size) return;
    ++n.served;
    n.last_served = now_seconds() - begin;
    ::close(c.fd);
    c.at = stage::done;
}

} // namespace

int measure_burst(const options& o, const target& t)
{
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    std::vector<client> clients(static_cast<size_t>(o.count));
    counts n;
    report_start();
    const double begin = now_seconds();
    long open_failures = 0;
    for (size_t i = 0; i < clients.size(); ++i) {
        client& c = clients[i];
        char text[message_size + 1];
        std::snprintf(text, sizeof text, "burst connection %-14u", static_cast<unsigned>(i % 100000u));
        std::memcpy(c.message, text, message_size);
        c.fd = connect_started(t);
        if (c.fd < 0) {
            ++open_failures;
            fail(c, errno, n);
            continue;
        }
        epoll_watch(ep, EPOLL_CTL_ADD, c.fd, EPOLLOUT, &c);
    }
    const double opened_in = now_seconds() - begin;
    const double end = begin + o.seconds;
    long pending = static_cast<long>(clients.size());
    epoll_event events[256];
    long loops = 0;
    while (now_seconds() < end && loops++ < o.max_operations) {
        pending = 0;
        for (const client& c : clients)
            if (c.at != stage::done) ++pending;
        if (pending == 0) break;
        const int k = ::epoll_wait(ep, events, 256, 20);
        for (int i = 0; i < k; ++i) on_event(*static_cast<client*>(events[i].data.ptr), events[i].events, ep, n, begin);
    }
    pending = 0;
    for (client& c : clients) {
        if (c.at == stage::done) continue;
        ++pending;
        ::close(c.fd);
    }
    ::close(ep);
    char details[320];
    std::snprintf(details, sizeof details,
                  "count=%d served=%ld reset=%ld refused=%ld closed=%ld other=%ld unserved=%ld "
                  "connects_issued_ms=%.1f all_served_ms=%.1f",
                  o.count, n.served, n.reset, n.refused, n.closed, n.other, pending, opened_in * 1000,
                  n.last_served * 1000);
    report("burst", static_cast<double>(n.served), "served", details);
    return 0;
}
