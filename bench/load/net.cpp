#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <unistd.h>

#include "load.h"

double now_seconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

int connect_started(const target& t)
{
    const int fd = ::socket(t.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&t.address), t.length) != 0 && errno != EINPROGRESS) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int connect_waited(const target& t, double timeout)
{
    const int fd = connect_started(t);
    if (fd < 0) return -1;
    pollfd p{fd, POLLOUT, 0};
    if (::poll(&p, 1, static_cast<int>(timeout * 1000)) != 1 || pending_error(fd) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int datagram_socket(const target& t)
{
    return ::socket(t.family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

int pending_error(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return errno;
    return error;
}

bool raise_open_files(long wanted)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
    if (limit.rlim_cur >= static_cast<rlim_t>(wanted)) return true;
    rlimit raised = limit;
    if (raised.rlim_max < static_cast<rlim_t>(wanted)) raised.rlim_max = static_cast<rlim_t>(wanted);
    raised.rlim_cur = static_cast<rlim_t>(wanted);
    if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) return true;
    // Without the right to raise the hard limit, take all of it.
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_cur >= static_cast<rlim_t>(wanted);
}

void epoll_watch(int ep, int op, int fd, std::uint32_t events, void* owner)
{
    epoll_event e{};
    e.events = events;
    e.data.ptr = owner;
    ::epoll_ctl(ep, op, fd, &e);
}
