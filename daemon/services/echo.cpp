#include "services.h"

namespace {

constexpr std::uint16_t echo_port = 7;
constexpr int transfer_size = 512;

void echo_datagram(const net_address* sender, unsigned char* buffer, int count, bool over_long)
{
    // An over-long datagram was not received whole: nothing to echo.
    if (!over_long) echo_udp_reply(sender, buffer, count);
}

} // namespace

void echo_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    unsigned char buffer[transfer_size];
    int received;
    while ((received = net_recv(s, buffer, transfer_size)) > 0) net_send(s, buffer, received);
    net_close(s);
}

int echo_udp_reply(const net_address* sender, const unsigned char* data, int count)
{
    send_from_fresh_socket(sender, data, count);
    return 0;
}

void echo_tcp_listener(void*) { run_tcp_listener({echo_port, echo_tcp_session, false}); }

void echo_udp_listener(void*) { run_udp_listener({echo_port, echo_datagram, nullptr}); }
