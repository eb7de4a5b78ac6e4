#include "test_sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

sockaddr_in loopback_address(std::uint16_t port)
{
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sin.sin_port = htons(port);
    return sin;
}

bool ready_within(int fd, short events, int timeout_ms)
{
    pollfd p{fd, events, 0};
    int ready;
    do {
        ready = ::poll(&p, 1, timeout_ms);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

void close_with_reset(int fd)
{
    const linger abort_close{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort_close, sizeof abort_close);
    ::close(fd);
}
