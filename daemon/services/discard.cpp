#include "service_handlers.h"

namespace {

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

void discard_udp_reply(const datagram&) {}
