#include "harness.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "socket_table.h"

namespace {

using clock_type = std::chrono::steady_clock;

struct port_row { service_flag flag; int port; bool tcp; bool udp; };
const port_row port_table[] = {
    {flag_echo, 7, true, true},     {flag_discard, 9, true, true}, {flag_daytime, 13, true, true},
    {flag_quote, 17, true, false},  {flag_chargen, 19, true, true}, {flag_telnet, 23, true, false},
    {flag_time, 37, true, true},    {flag_dns, 53, true, true},
};

std::set<int> well_known(const std::set<int>& ports)
{
    return std::set<int>(ports.begin(), ports.lower_bound(1024));
}

int remaining_ms(clock_type::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

} // namespace

std::vector<unsigned char> settings_image(const std::set<service_flag>& on)
{
    std::vector<std::uint32_t> flags(10, 0);
    for (service_flag flag : on) flags[flag] = 1;
    return settings_image(256, flags);
}

std::set<int> well_known_tcp_ports() { return well_known(listening_tcp_ports()); }
std::set<int> well_known_udp_ports() { return well_known(bound_udp_ports()); }

std::set<int> tcp_ports_of(const std::set<service_flag>& on)
{
    std::set<int> ports;
    for (const port_row& r : port_table)
        if (r.tcp && on.count(r.flag)) ports.insert(r.port);
    return ports;
}

std::set<int> udp_ports_of(const std::set<service_flag>& on)
{
    std::set<int> ports;
    for (const port_row& r : port_table)
        if (r.udp && on.count(r.flag)) ports.insert(r.port);
    return ports;
}

bool wait_until(const std::function<bool()>& ready, std::chrono::milliseconds limit)
{
    const auto deadline = clock_type::now() + limit;
    for (;;) {
        if (ready()) return true;
        if (clock_type::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

bool wait_for_ports(const std::set<service_flag>& on, std::chrono::milliseconds limit)
{
    const std::set<int> tcp = tcp_ports_of(on), udp = udp_ports_of(on);
    return wait_until([&] { return well_known_tcp_ports() == tcp && well_known_udp_ports() == udp; }, limit);
}

velmora_process prepared(const std::set<service_flag>& on)
{
    velmora_setup setup;
    setup.settings = settings_image(on);
    setup.quotes = std::nullopt;
    velmora_process run;
    velmora_folder(&run, setup);
    return run;
}

velmora_process launch(const std::set<service_flag>& on, const std::string* quotes,
                       const std::vector<std::string>& environment)
{
    velmora_process run = prepared(on);
    if (quotes != nullptr) write_file(run.folder + "/VESK.TXT", *quotes);
    program_start(&run, {.environment = environment});
    std::set<service_flag> serving = on;
    if (quotes == nullptr) serving.erase(flag_quote);
    wait_for_ports(serving);
    return run;
}

int tcp_connect(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const sockaddr_in to = loopback_address(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

bool send_all(int fd, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string read_until_close(int fd, std::chrono::milliseconds limit, std::size_t most, bool* closed)
{
    const auto deadline = clock_type::now() + limit;
    std::string got;
    if (closed != nullptr) *closed = false;
    char buffer[4096];
    while (got.size() < most) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, remaining_ms(deadline)) <= 0) break;
        const ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, most - got.size()), 0);
        if (n <= 0) {
            if (closed != nullptr) *closed = true;
            break;
        }
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

std::string read_exactly(int fd, std::size_t count, std::chrono::milliseconds limit)
{
    return read_until_close(fd, limit, count);
}

bool readable_within(int fd, std::chrono::milliseconds limit)
{
    return ready_within(fd, POLLIN, static_cast<int>(limit.count()));
}

int udp_socket()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const sockaddr_in any = loopback_address(0);
    ::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any);
    return fd;
}

int local_port(int fd)
{
    sockaddr_in sin{};
    socklen_t length = sizeof sin;
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&sin), &length) != 0) return 0;
    return ntohs(sin.sin_port);
}

bool send_datagram(int fd, int port, const std::string& bytes)
{
    const sockaddr_in to = loopback_address(port);
    return ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(bytes.size());
}

datagram receive_datagram(int fd, std::chrono::milliseconds limit)
{
    datagram d;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0) return d;
    char buffer[65536];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) return d;
    d.arrived = true;
    d.bytes.assign(buffer, static_cast<std::size_t>(n));
    d.source_port = ntohs(from.sin_port);
    return d;
}

std::string hex(const std::string& bytes)
{
    std::string text;
    char two[4];
    for (unsigned char c : bytes) {
        std::snprintf(two, sizeof two, "%02X ", c);
        text += two;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

bool echo_answers(const std::string& text)
{
    const int c = tcp_connect(7);
    if (c < 0) return false;
    const bool answered = send_all(c, text) && read_exactly(c, text.size(), std::chrono::seconds(3)) == text;
    ::close(c);
    return answered;
}
