#include "service_probes.h"

#include <random>
#include <sys/socket.h>
#include <unistd.h>

#include "fault_net.h"

namespace {

constexpr int patience_ms = 3000;

std::string tcp_port_name(std::uint16_t port) { return "TCP " + std::to_string(port) + ": "; }
std::string udp_port_name(std::uint16_t port) { return "UDP " + std::to_string(port) + ": "; }

std::string probe_tcp_echo(int fd)
{
    const std::string ping = "ping\r\n";
    if (!tcp_send(fd, ping.data(), ping.size(), patience_ms)) return "cannot send";
    const std::string back = tcp_read(fd, ping.size(), patience_ms);
    return back == ping ? "" : "echoed \"" + back + "\"";
}

std::string probe_tcp_discard(int fd)
{
    const std::string data = "thrown away";
    if (!tcp_send(fd, data.data(), data.size(), patience_ms)) return "cannot send";
    ::shutdown(fd, SHUT_WR);
    bool closed = false;
    const std::string back = tcp_read(fd, 64, patience_ms, &closed);
    if (!back.empty()) return "sent something back";
    return closed ? "" : "did not close after the client";
}

std::string probe_tcp_closing(int fd, std::size_t length)
{
    bool closed = false;
    const std::string text = tcp_read(fd, 4096, patience_ms, &closed);
    if (!closed) return "did not close";
    if (length != 0 && text.size() != length) return "sent " + std::to_string(text.size()) + " bytes";
    if (length == 25 && text.back() != '\n') return "daytime text without its line feed";
    return "";
}

std::string probe_tcp_chargen(int fd)
{
    const std::string line = tcp_read(fd, 74, patience_ms);
    if (line.size() != 74) return "sent " + std::to_string(line.size()) + " bytes";
    return line[0] == '"' && line[72] == '\r' && line[73] == '\n' ? "" : "first line is wrong";
}

std::string probe_tcp_telnet(int fd)
{
    const std::string welcome = "\r\n  Welcome to Velmora - ";
    const std::string banner = tcp_read(fd, welcome.size(), patience_ms);
    return banner == welcome ? "" : "banner begins \"" + banner + "\"";
}

} // namespace

std::string probe_tcp(std::uint16_t port)
{
    const int fd = tcp_connect(port, patience_ms);
    if (fd < 0) return tcp_port_name(port) + "no connection";
    std::string failure;
    switch (port) {
    case 7:
    case 53: failure = probe_tcp_echo(fd); break;
    case 9: failure = probe_tcp_discard(fd); break;
    case 13: failure = probe_tcp_closing(fd, 25); break;
    case 17: failure = probe_tcp_closing(fd, 0); break;
    case 19: failure = probe_tcp_chargen(fd); break;
    case 23: failure = probe_tcp_telnet(fd); break;
    case 37: failure = probe_tcp_closing(fd, 4); break;
    default: failure = "no probe for this port"; break;
    }
    ::close(fd);
    return failure.empty() ? "" : tcp_port_name(port) + failure;
}

std::string probe_udp(std::uint16_t port)
{
    const int fd = udp_open();
    if (fd < 0) return udp_port_name(port) + "no socket";
    std::string failure;
    std::vector<unsigned char> reply;
    if (port == 9) {
        // Discard answers nothing: it serves when its queue is read empty.
        const unsigned char data[] = {'x'};
        udp_send(fd, port, data, sizeof data);
        bool drained = false;
        for (int i = 0; i < patience_ms / 20 && !drained; ++i) {
            drained = udp_receive_queue(port) == 0;
            if (!drained) ::usleep(20000);
        }
        if (!drained) failure = "datagrams are not read";
    } else {
        std::vector<unsigned char> request = port == 53 ? dns_query_q() : std::vector<unsigned char>{'a', 'b', 'c'};
        std::vector<unsigned char> answer = dns_answer_q();
        if (port == 53) {
            // A query of its own: the same bytes from a port the system
            // happened to give again within a second would be a repeat,
            // which the DNS service rightly leaves unanswered.
            const unsigned id = std::random_device{}();
            request[0] = answer[0] = static_cast<unsigned char>(id >> 8);
            request[1] = answer[1] = static_cast<unsigned char>(id);
        }
        udp_send(fd, port, request.data(), request.size());
        if (!udp_receive(fd, &reply, patience_ms)) {
            failure = "no reply";
        } else if (port == 7 && reply != request) {
            failure = "echo differs";
        } else if (port == 13 && reply.size() != 25) {
            failure = "daytime of " + std::to_string(reply.size()) + " bytes";
        } else if (port == 19 && (reply.size() > 511 || (!reply.empty() && reply[0] != '!'))) {
            failure = "chargen reply is wrong";
        } else if (port == 37 && reply.size() != 4) {
            failure = "time of " + std::to_string(reply.size()) + " bytes";
        } else if (port == 53 && reply != answer) {
            failure = "DNS answer differs";
        }
    }
    ::close(fd);
    return failure.empty() ? "" : udp_port_name(port) + failure;
}

std::string probe_every_listener()
{
    std::string failures;
    for (std::uint16_t port : tcp_service_ports) {
        const std::string f = probe_tcp(port);
        if (!f.empty()) failures += f + "\n";
    }
    for (std::uint16_t port : udp_service_ports) {
        const std::string f = probe_udp(port);
        if (!f.empty()) failures += f + "\n";
    }
    return failures;
}

std::vector<unsigned char> dns_query_q()
{
    return {0x12, 0x34, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x71, 0x00, 0x00, 0x01, 0x00, 0x01};
}

std::vector<unsigned char> dns_answer_q()
{
    return {0x12, 0x34, 0x85, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x01, 0x71, 0x00, 0x00, 0x01, 0x00,
            0x01, 0x01, 0x78, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x5A, 0x00, 0x00, 0x66};
}
