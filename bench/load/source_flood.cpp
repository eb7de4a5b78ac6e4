// What one source gets of the services: a flood of datagrams at an even
// pace from one socket (udp-flood), and a source that holds many
// connections while another asks for the daytime (source-hold).
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "load.h"

namespace {

// Waits up to `seconds` for `fd` to be readable.
bool readable_within(int fd, double seconds)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(seconds * 1000)) == 1;
}

} // namespace

int measure_udp_flood(const options& o, const target& t)
{
    const int fd = datagram_socket(t);
    if (fd < 0) return 1;
    const int room = 8 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
    const std::vector<unsigned char> payload(static_cast<std::size_t>(o.payload < 1 ? 1 : o.payload), 'x');
    long sent = 0, answers = 0, bytes_back = 0;
    unsigned char buffer[2048];
    const auto drain = [&] {
        ssize_t n;
        while ((n = ::recv(fd, buffer, sizeof buffer, 0)) >= 0) {
            ++answers;
            bytes_back += n;
        }
    };
    report_start();
    const double start = now_seconds();
    for (long i = 0; i < o.count; ++i) {
        // An even pace over the measure's time.
        const double due = start + o.seconds * static_cast<double>(i) / static_cast<double>(o.count);
        while (now_seconds() < due) drain();
        if (::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&t.address),
                     t.length) >= 0)
            ++sent;
    }
    report_stop();
    while (readable_within(fd, 0.3)) drain();
    ::close(fd);
    const long bytes_in = sent * static_cast<long>(payload.size());
    char details[256];
    std::snprintf(details, sizeof details, "sent=%ld bytes_to_server=%ld bytes_from_server=%ld out_per_in=%.2f seconds=%.3f",
                  sent, bytes_in, bytes_back, bytes_in > 0 ? static_cast<double>(bytes_back) / bytes_in : 0.0,
                  o.seconds);
    report("udp-flood", static_cast<double>(answers), "answers", details);
    return 0;
}

int measure_source_hold(const options& o, const target& t)
{
    raise_open_files(o.connections + 64);
    // Every connection from the source sends one byte to echo and waits for
    // it: those over the cap are closed without an answer.
    std::vector<int> held;
    for (int i = 0; i < o.connections; ++i) {
        const int fd = connect_waited(t, 1.0);
        if (fd >= 0) held.push_back(fd);
    }
    int served = 0;
    for (int fd : held) {
        char byte = 'x';
        if (::send(fd, &byte, 1, MSG_NOSIGNAL) == 1 && readable_within(fd, 1.0) && ::recv(fd, &byte, 1, 0) == 1) ++served;
    }
    // The other source's daytime, while the first holds its connections.
    double daytime_seconds = -1;
    if (bind_sources_to(o.second_source)) {
        target daytime = t;
        reinterpret_cast<sockaddr_in*>(&daytime.address)->sin_port = htons(13);
        const double asked = now_seconds();
        const int fd = connect_waited(daytime, 1.0);
        char text[64];
        if (fd >= 0 && readable_within(fd, 1.0) && ::recv(fd, text, sizeof text, 0) > 0)
            daytime_seconds = now_seconds() - asked;
        if (fd >= 0) ::close(fd);
    }
    for (int fd : held) ::close(fd);
    char details[160];
    std::snprintf(details, sizeof details, "connections=%d served=%d other_source_daytime_s=%.4f", o.connections,
                  served, daytime_seconds);
    report("source-hold", static_cast<double>(served), "sessions", details);
    return 0;
}
