#include "service_handlers.h"

#include "clock.h"

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
    if (!d.reply_from_listener) {
        send_from_fresh_socket(d.sender, data, length);
        return;
    }
    // From the service's port, a reply could be answered in turn: never to
    // the ports of services, and the same bytes from the same sender within
    // a second once only, so that a reflector that sends back what it gets
    // has one answer a second.
    if (net_address_port(d.sender) < first_unprivileged_port) return;
    if (d.recent != nullptr && !recent_datagrams_admit(d.recent, d.sender, d.bytes, d.count, clock_tick_count())) return;
    net_send_to(d.listener, data, length, d.sender);
}
