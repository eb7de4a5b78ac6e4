// Idle connections: opens `count` echo connections (a bounded number of
// connects in flight at a time), proves each one served by a one-byte echo,
// holds them all open, and reports the server's memory per connection.
// With --stream each connection streams that many bytes instead of the
// one, in blocks each echoed before the next is sent (or, with --echoed 0,
// only sent, as to discard), and then goes idle: the memory that a
// streamed-then-idle connection keeps.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/epoll.h>
#include <unistd.h>

#include "load.h"

namespace {

constexpr int in_flight_limit = 256;
constexpr double settle_seconds = 1.0;
// After streaming: past the wait after which a streaming session counts
// its client idle (1 s) and gives back what it took.
constexpr double settle_streamed_seconds = 3.0;
constexpr long stream_block = 16384;

enum class stage { idle, connecting, waiting, streaming, held, failed };

struct client {
    int fd = -1;
    stage at = stage::idle;
    double started = 0;
    long left = 0;       // bytes still to stream, the current block included
    long block_sent = 0; // of the current block
    long block_got = 0;  // of the current block, echoed back
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

// One step of a streaming connection: sends what the socket takes of the
// current block, reads what came back, and moves to the next block once
// this one is through. Returns false when the connection failed; raises
// `done` when the last block is through.
bool stream_step(client& c, const options& o, const std::string& block, bool* done)
{
    static char back[stream_block];
    for (;;) {
        const long size = std::min(c.left, stream_block);
        while (c.block_sent < size) {
            const ssize_t n = ::send(c.fd, block.data() + c.block_sent, static_cast<size_t>(size - c.block_sent),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
            if (n <= 0) return false;
            c.block_sent += n;
        }
        while (o.echoed != 0 && c.block_got < c.block_sent) {
            const ssize_t n = ::recv(c.fd, back, sizeof back, MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) break;
            if (n <= 0) return false;
            c.block_got += n;
        }
        if (c.block_sent < size || (o.echoed != 0 && c.block_got < size)) return true;
        c.left -= size;
        c.block_sent = c.block_got = 0;
        if (c.left == 0) {
            *done = true;
            return true;
        }
    }
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
    const std::string block(static_cast<size_t>(stream_block), 's');
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
            if (c.at == stage::connecting && o.stream > 0) {
                c.at = stage::streaming;
                c.left = o.stream;
            }
            if (c.at == stage::streaming) {
                bool done = false;
                if (!stream_step(c, o, block, &done)) {
                    drop(c, stage::failed);
                    ++failed;
                    --in_flight;
                } else if (done) {
                    --in_flight;
                    c.at = stage::held;
                    ++held;
                    ::epoll_ctl(ep, EPOLL_CTL_DEL, c.fd, nullptr);
                } else {
                    epoll_watch(ep, EPOLL_CTL_MOD, c.fd, c.block_sent < std::min(c.left, stream_block) ? EPOLLOUT : EPOLLIN,
                                &c);
                }
            } else if (c.at == stage::connecting) {
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
            if ((c.at == stage::connecting || c.at == stage::waiting || c.at == stage::streaming) &&
                now - c.started > 10.0) {
                drop(c, stage::failed);
                ++failed;
                ++timeouts;
                --in_flight;
            }
        }
    }
    const double opened_in = now_seconds() - begin;
    ::usleep(static_cast<useconds_t>((o.stream > 0 ? settle_streamed_seconds : settle_seconds) * 1e6));
    const memory after = sample(o.pid);
    for (client& c : clients)
        if (c.fd >= 0) ::close(c.fd);
    ::close(ep);
    const double per = held > 0 ? 1.0 / static_cast<double>(held) : 0;
    char details[512];
    std::snprintf(details, sizeof details,
                  "count=%d held=%ld failed=%ld timeouts=%ld open_seconds=%.2f rss_before_kib=%ld rss_after_kib=%ld "
                  "rss_per_conn_kib=%.2f pss_before_kib=%ld pss_after_kib=%ld pss_per_conn_kib=%.2f "
                  "processes=%d threads=%ld stream_bytes=%ld",
                  o.count, held, failed, timeouts, opened_in, before.rss, after.rss,
                  static_cast<double>(after.rss - before.rss) * per, before.pss, after.pss,
                  static_cast<double>(after.pss - before.pss) * per, after.processes, after.threads, o.stream);
    report("idle", static_cast<double>(held), "held", details);
    return 0;
}
