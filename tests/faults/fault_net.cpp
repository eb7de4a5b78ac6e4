#include "fault_net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using steady = std::chrono::steady_clock;

int remaining_ms(steady::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - steady::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

bool enter_fresh_network_namespace()
{
    if (::unshare(CLONE_NEWNET) != 0) return false;
    const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s < 0) return false;
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(s, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(s, SIOCSIFFLAGS, &request) == 0;
    ::close(s);
    return up;
}

int tcp_connect_started(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const sockaddr_in to = loopback_address(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int tcp_connect(std::uint16_t port, int timeout_ms)
{
    const int fd = tcp_connect_started(port);
    if (fd < 0) return -1;
    int error = 0;
    socklen_t length = sizeof error;
    if (!ready_within(fd, POLLOUT, timeout_ms) || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 ||
        error != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::string tcp_read(int fd, std::size_t limit, int timeout_ms, bool* closed)
{
    const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
    std::string text;
    if (closed != nullptr) *closed = false;
    char chunk[4096];
    while (text.size() < limit) {
        if (!ready_within(fd, POLLIN, remaining_ms(deadline))) break;
        const std::size_t want = limit - text.size() < sizeof chunk ? limit - text.size() : sizeof chunk;
        const ssize_t n = ::recv(fd, chunk, want, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) {
            if (closed != nullptr) *closed = true;
            break;
        }
        text.append(chunk, static_cast<std::size_t>(n));
    }
    return text;
}

bool tcp_send(int fd, const void* data, std::size_t size, int timeout_ms)
{
    const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        if (!ready_within(fd, POLLOUT, remaining_ms(deadline))) return false;
        const ssize_t n = ::send(fd, p, size, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

int udp_open(std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const sockaddr_in here = loopback_address(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&here), sizeof here) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool udp_send(int fd, std::uint16_t port, const void* data, std::size_t size)
{
    const sockaddr_in to = loopback_address(port);
    return ::sendto(fd, data, size, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(size);
}

bool udp_receive(int fd, std::vector<unsigned char>* datagram, int timeout_ms)
{
    const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        if (!ready_within(fd, POLLIN, remaining_ms(deadline))) return false;
        datagram->resize(65536);
        const ssize_t n = ::recv(fd, datagram->data(), datagram->size(), MSG_DONTWAIT);
        if (n >= 0) {
            datagram->resize(static_cast<std::size_t>(n));
            return true;
        }
        // An ICMP error for an earlier send is reported here; it is no datagram.
        if (errno != EAGAIN && errno != EINTR && errno != ECONNREFUSED) return false;
    }
}
