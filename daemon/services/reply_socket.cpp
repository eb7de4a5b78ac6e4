#include "service_handlers.h"

namespace {

constexpr std::uint16_t first_unprivileged_port = 1024;

void send_from_fresh_socket(const net_address* to, const void* data, int length)
{
    const net_socket s = net_open_datagram_for(to);
    if (s == net_invalid_socket) return;
    net_send_to(s, data, length, to);
    net_close(s);
}

} // namespace

void send_udp_reply(const datagram& d, const void* data, int length)
{
    if (!d.reply_from_listener) send_from_fresh_socket(d.sender, data, length);
    else if (net_address_port(d.sender) >= first_unprivileged_port) net_send_to(d.listener, data, length, d.sender);
}
