// Stream rate: one reader takes whatever a character generator sends.
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "load.h"

int measure_chargen(const options& o, const target& t)
{
    const int fd = connect_waited(t, 5.0);
    if (fd < 0) {
        report("chargen", 0, "MB/s", "connected=0");
        return 1;
    }
    static unsigned char buffer[1 << 18];
    long bytes = 0;
    long reads = 0;
    bool closed = false;
    report_start();
    const double begin = now_seconds();
    const double end = begin + o.seconds;
    double now = begin;
    while (now < end && reads < o.max_operations && !closed) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            bytes += n;
            ++reads;
        } else if (n == 0) {
            closed = true;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 50);
        } else if (errno != EINTR) {
            closed = true;
        }
        if ((reads & 63) == 0) now = now_seconds();
    }
    // Stopped before the close, while a server's process for this
    // connection still lives and its CPU time still counts.
    report_stop();
    now = now_seconds();
    ::close(fd);
    const double elapsed = now - begin;
    report("chargen", static_cast<double>(bytes) / elapsed / 1e6, "MB/s",
           "bytes=" + std::to_string(bytes) + " reads=" + std::to_string(reads) +
               " closed_early=" + std::to_string(closed ? 1 : 0) + " seconds=" + std::to_string(elapsed));
    return bytes > 0 ? 0 : 1;
}
