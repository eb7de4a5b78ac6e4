// systemd's notification protocol without libsystemd: one datagram on the
// Unix socket that NOTIFY_SOCKET names, either a path or, with a leading
// '@', an abstract address (a NUL byte in its place).
#include "service_manager.h"

#include <cerrno>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "sockets.h"

namespace {

const char* notify_socket_name()
{
    const char* name = std::getenv("NOTIFY_SOCKET");
    // Only a path or an abstract name: systemd also allows vsock addresses,
    // which no service on this host's network uses.
    if (name == nullptr || (name[0] != '/' && name[0] != '@') || name[1] == '\0') return nullptr;
    return name;
}

} // namespace

bool service_manager_present() { return notify_socket_name() != nullptr; }

int service_manager_notify(const char* state)
{
    const char* name = notify_socket_name();
    if (name == nullptr) return net_error_from_errno(EDESTADDRREQ);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::size_t length = std::strlen(name);
    if (length >= sizeof address.sun_path) return net_error_from_errno(ENAMETOOLONG);
    std::memcpy(address.sun_path, name, length);
    if (name[0] == '@') address.sun_path[0] = '\0';
    // An abstract name has no final NUL; a path's NUL is counted.
    const socklen_t size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + (name[0] == '@' ? 0 : 1));

    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return net_error_from_errno(errno);
    const std::size_t count = std::strlen(state);
    // A manager whose queue is full (or a socket that nobody reads) would
    // hold the main thread in sendto, where the ending signals wait their
    // turn: the message is dropped instead.
    const ssize_t sent =
        ::sendto(fd, state, count, MSG_NOSIGNAL | MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&address), size);
    const int error = sent < 0 ? errno : 0;
    ::close(fd);
    if (sent < 0) return net_error_from_errno(error);
    return sent == static_cast<ssize_t>(count) ? 0 : net_error_message_size;
}
