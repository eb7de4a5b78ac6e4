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
    const double server_cpu_before = o.pid > 0 ? process_tree_cpu_seconds(o.pid) : -1;
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
    report_stop();
    now = now_seconds();
    // The server's own CPU time per MB: unlike the busy share of its CPU,
    // other work on the machine does not count in it. Taken before the
    // close, while a server's process for this connection still lives.
    const double server_cpu_after = o.pid > 0 ? process_tree_cpu_seconds(o.pid) : -1;
    ::close(fd);
    const double elapsed = now - begin;
    std::string process_cpu;
    if (server_cpu_before >= 0 && server_cpu_after >= 0 && bytes > 0)
        process_cpu = " server_process_us_per_mb=" +
                      std::to_string((server_cpu_after - server_cpu_before) * 1e6 / (static_cast<double>(bytes) / 1e6));
    report("chargen", static_cast<double>(bytes) / elapsed / 1e6, "MB/s",
           "bytes=" + std::to_string(bytes) + " reads=" + std::to_string(reads) +
               " closed_early=" + std::to_string(closed ? 1 : 0) + " seconds=" + std::to_string(elapsed) +
               process_cpu);
    return bytes > 0 ? 0 : 1;
}
