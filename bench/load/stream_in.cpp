// Stream into a service that sends (almost) nothing back: one client sends
// plain text as fast as the server takes it, for discard and for telnet
// (no option negotiated, so nothing is echoed). What the server sends, the
// telnet banner, is read and dropped. The server's CPU per MB taken is the
// figure: telnet's against discard's shows the price of its parser.
#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "load.h"

int measure_stream_in(const options& o, const target& t)
{
    const int fd = connect_waited(t, 5.0);
    if (fd < 0) {
        report("stream-in", 0, "MB/s", "connected=0");
        return 1;
    }
    // Text lines without a telnet command byte (255) in them.
    static unsigned char block[1 << 16];
    for (std::size_t i = 0; i < sizeof block; ++i) block[i] = i % 64 == 63 ? '\n' : static_cast<unsigned char>('a' + i % 26);
    unsigned char sink[4096];
    long bytes = 0;
    long sends = 0;
    bool closed = false;
    report_start();
    const double begin = now_seconds();
    const double end = begin + o.seconds;
    double now = begin;
    while (now < end && sends < o.max_operations && !closed) {
        const ssize_t n = ::send(fd, block, sizeof block, MSG_NOSIGNAL);
        if (n > 0) {
            bytes += n;
            ++sends;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 50);
        } else if (n < 0 && errno != EINTR) {
            closed = true;
        }
        while (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
        }
        now = now_seconds();
    }
    report_stop();
    ::close(fd);
    const double elapsed = now - begin;
    report("stream-in", static_cast<double>(bytes) / elapsed / 1e6, "MB/s",
           "bytes=" + std::to_string(bytes) + " sends=" + std::to_string(sends) +
               " closed_early=" + std::to_string(closed ? 1 : 0) + " seconds=" + std::to_string(elapsed));
    return bytes > 0 ? 0 : 1;
}
