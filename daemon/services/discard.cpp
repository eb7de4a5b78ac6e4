#include "services.h"

namespace {

constexpr std::uint16_t discard_port = 9;
constexpr int transfer_size = 512;

} // namespace

void discard_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    unsigned char buffer[transfer_size];
    while (net_recv(s, buffer, transfer_size) > 0) {
    }
    net_close(s);
}

void discard_tcp_listener(void*) { run_tcp_listener({discard_port, discard_tcp_session, false}); }

void discard_udp_listener(void*) { run_udp_listener({discard_port, nullptr, nullptr}); }
