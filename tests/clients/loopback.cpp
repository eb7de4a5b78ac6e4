#include "loopback.h"

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "test_sockets.h"

namespace {

int bound_socket(int type, std::uint16_t port)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    const sockaddr_in sin = loopback_address(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

int udp_bound(std::uint16_t port) { return bound_socket(SOCK_DGRAM, port); }

int tcp_listening(std::uint16_t port)
{
    const int fd = bound_socket(SOCK_STREAM, port);
    if (fd >= 0 && ::listen(fd, 5) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool readable_within(int fd, int timeout_ms) { return ready_within(fd, POLLIN, timeout_ms); }

std::string receive_datagram(int fd, int timeout_ms, sockaddr_in* sender, bool* received)
{
    *received = false;
    if (!readable_within(fd, timeout_ms)) return {};
    char buffer[65536];
    socklen_t length = sizeof *sender;
    const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(sender), &length);
    if (n < 0) return {};
    *received = true;
    return std::string(buffer, static_cast<std::size_t>(n));
}

int accept_within(int fd, int timeout_ms)
{
    if (!readable_within(fd, timeout_ms)) return -1;
    return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
}

bool send_all(int fd, const std::string& data)
{
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}
