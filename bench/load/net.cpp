#include <arpa/inet.h>
#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <arpa/inet.h>

#include "load.h"

double now_seconds()
{
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

namespace {

sockaddr_in bound_source{};

// Binds `fd` to the chosen source, if any; false when the bind fails.
bool bind_source(int fd)
{
    if (bound_source.sin_family == 0) return true;
    return ::bind(fd, reinterpret_cast<const sockaddr*>(&bound_source), sizeof bound_source) == 0;
}

} // namespace

bool bind_sources_to(const std::string& address)
{
    bound_source = {};
    if (address.empty()) return true;
    in_addr a{};
    if (::inet_pton(AF_INET, address.c_str(), &a) != 1 || (ntohl(a.s_addr) >> 24) != 10) return false;
    bound_source.sin_family = AF_INET;
    bound_source.sin_addr = a;
    return true;
}

int connect_started(const target& t)
{
    const int fd = ::socket(t.family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (!bind_source(fd)) {
        ::close(fd);
        return -1;
    }
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
    const int fd = ::socket(t.family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd >= 0 && !bind_source(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
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
