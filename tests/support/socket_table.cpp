#include "socket_table.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

namespace {

constexpr int tcp_state_established = 0x01;
constexpr int tcp_state_listen = 0x0A;

struct socket_row {
    int local_port;
    int remote_port;
    int state;
    long transmit_queue;
    long receive_queue;
};

int port_of(const std::string& address)
{
    const std::size_t colon = address.find(':');
    return colon == std::string::npos ? -1 : static_cast<int>(std::stoul(address.substr(colon + 1), nullptr, 16));
}

// The rows of /proc/thread-self/net/<table> and <table>6, the IPv6 one
// (where a socket that takes both families is listed): thread-self, because
// a test thread may have entered a network namespace of its own. Addresses
// are hexadecimal "address:port", the queues "tx_queue:rx_queue".
void append_rows(const std::string& table, std::vector<socket_row>* rows);

std::vector<socket_row> socket_rows(const char* table)
{
    std::vector<socket_row> rows;
    append_rows(table, &rows);
    append_rows(std::string(table) + "6", &rows);
    return rows;
}

void append_rows(const std::string& table, std::vector<socket_row>* rows_out)
{
    std::ifstream in("/proc/thread-self/net/" + table);
    std::vector<socket_row>& rows = *rows_out;
    std::string line;
    std::getline(in, line); // the heading
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, state, queues;
        fields >> slot >> local >> remote >> state >> queues;
        const std::size_t queue_colon = queues.find(':');
        if (local.find(':') == std::string::npos || remote.find(':') == std::string::npos ||
            queue_colon == std::string::npos)
            continue;
        rows.push_back({port_of(local), port_of(remote), static_cast<int>(std::stoul(state, nullptr, 16)),
                        static_cast<long>(std::stoul(queues.substr(0, queue_colon), nullptr, 16)),
                        static_cast<long>(std::stoul(queues.substr(queue_colon + 1), nullptr, 16))});
    }
}

// One queue of each established TCP connection whose `side` port is `port`.
std::vector<long> established_queues(int socket_row::*side, std::uint16_t port, long socket_row::*queue)
{
    std::vector<long> queues;
    for (const socket_row& row : socket_rows("tcp"))
        if (row.state == tcp_state_established && row.*side == port) queues.push_back(row.*queue);
    return queues;
}

} // namespace

std::set<int> listening_tcp_ports()
{
    std::set<int> ports;
    for (const socket_row& row : socket_rows("tcp"))
        if (row.state == tcp_state_listen) ports.insert(row.local_port);
    return ports;
}

std::set<int> bound_udp_ports()
{
    std::set<int> ports;
    for (const socket_row& row : socket_rows("udp")) ports.insert(row.local_port);
    return ports;
}

long udp_receive_queue(std::uint16_t port)
{
    for (const socket_row& row : socket_rows("udp"))
        if (row.local_port == port) return row.receive_queue;
    return -1;
}

bool wait_for_ports(const std::vector<std::uint16_t>& tcp, const std::vector<std::uint16_t>& udp, int timeout_ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    auto has_all = [](const std::set<int>& have, const std::vector<std::uint16_t>& want) {
        return std::all_of(want.begin(), want.end(), [&have](std::uint16_t p) { return have.count(p) > 0; });
    };
    for (;;) {
        if (has_all(listening_tcp_ports(), tcp) && has_all(bound_udp_ports(), udp)) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::vector<long> tcp_send_queues(std::uint16_t local_port)
{
    return established_queues(&socket_row::local_port, local_port, &socket_row::transmit_queue);
}

std::vector<long> tcp_receive_queues(std::uint16_t local_port)
{
    return established_queues(&socket_row::local_port, local_port, &socket_row::receive_queue);
}

std::vector<long> tcp_receive_queues_from(std::uint16_t remote_port)
{
    return established_queues(&socket_row::remote_port, remote_port, &socket_row::receive_queue);
}
