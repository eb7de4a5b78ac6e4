// Connection rate: `connections` loops, each connecting, reading to the end
// of the stream and closing, then starting over.
#include <cerrno>
#include <sys/epoll.h>
#include <unistd.h>

#include "load.h"

namespace {

constexpr double give_up_after = 2.0;

struct loop {
    int fd = -1;
    double started = 0;
    long bytes = 0;
};

struct counts {
    long completed = 0;
    long empty = 0;
    long refused = 0;
    long reset = 0;
    long other = 0;
    long timeouts = 0;
    long started = 0;
};

void start(loop& l, int ep, size_t index, const target& t, counts& c)
{
    l.bytes = 0;
    l.started = now_seconds();
    l.fd = connect_started(t);
    ++c.started;
    if (l.fd < 0) {
        ++c.other;
        return;
    }
    epoll_event e{};
    e.events = EPOLLIN;
    e.data.u64 = index;
    ::epoll_ctl(ep, EPOLL_CTL_ADD, l.fd, &e);
}

void finish(loop& l)
{
    ::close(l.fd);
    l.fd = -1;
}

void count_error(int error, counts& c)
{
    if (error == ECONNREFUSED) ++c.refused;
    else if (error == ECONNRESET) ++c.reset;
    else ++c.other;
}

// Reads what is there; true when the connection is over.
bool drain(loop& l, counts& c)
{
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::recv(l.fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            l.bytes += n;
            continue;
        }
        if (n == 0) {
            if (l.bytes > 0) ++c.completed;
            else ++c.empty;
            return true;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return false;
        count_error(errno, c);
        return true;
    }
}

} // namespace

int measure_daytime_rate(const options& o, const target& t)
{
    const int ep = ::epoll_create1(EPOLL_CLOEXEC);
    std::vector<loop> loops(static_cast<size_t>(o.connections));
    counts c;
    report_start();
    const double begin = now_seconds();
    const double end = begin + o.seconds;
    for (size_t i = 0; i < loops.size(); ++i) start(loops[i], ep, i, t, c);
    epoll_event events[256];
    double now = begin;
    while (now < end && c.started < o.max_operations) {
        const int n = ::epoll_wait(ep, events, 256, 20);
        now = now_seconds();
        for (int i = 0; i < n; ++i) {
            const size_t index = events[i].data.u64;
            loop& l = loops[index];
            if (l.fd < 0) continue;
            bool over = false;
            if (events[i].events & EPOLLERR) {
                count_error(pending_error(l.fd), c);
                over = true;
            } else {
                over = drain(l, c);
            }
            if (over) {
                finish(l);
                if (now < end && c.started < o.max_operations) start(l, ep, index, t, c);
            }
        }
        for (size_t i = 0; i < loops.size(); ++i) {
            loop& l = loops[i];
            if (l.fd >= 0 && now - l.started > give_up_after) {
                ++c.timeouts;
                finish(l);
                if (now < end) start(l, ep, i, t, c);
            } else if (l.fd < 0 && now < end && c.started < o.max_operations) {
                start(l, ep, i, t, c);
            }
        }
    }
    report_stop();
    const double elapsed = now_seconds() - begin;
    for (loop& l : loops)
        if (l.fd >= 0) finish(l);
    ::close(ep);
    const std::string details = "loops=" + std::to_string(o.connections) + " completed=" + std::to_string(c.completed) +
                                " empty=" + std::to_string(c.empty) + " refused=" + std::to_string(c.refused) +
                                " reset=" + std::to_string(c.reset) + " other=" + std::to_string(c.other) +
                                " timeouts=" + std::to_string(c.timeouts) + " seconds=" + std::to_string(elapsed);
    report("daytime-rate", static_cast<double>(c.completed) / elapsed, "conn/s", details);
    return c.completed > 0 ? 0 : 1;
}
