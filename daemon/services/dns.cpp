#include "formats.h"
#include "services.h"

net_socket dns_udp_socket = net_invalid_socket;

namespace {

constexpr std::uint16_t dns_port = 53;

void dns_datagram(const net_address* sender, unsigned char* buffer, int count, bool over_long)
{
    // A failed receive is not a query.
    if (!over_long) dns_udp_reply(sender, buffer, count);
}

} // namespace

// TCP port 53 does not speak DNS: it echoes.
void dns_tcp_session(void* connection) { echo_tcp_session(connection); }

int dns_udp_reply(const net_address* sender, unsigned char* buffer, int count)
{
    const int length = dns_build_answer(buffer, count);
    if (length > 0) net_send_to(dns_udp_socket, buffer, length, sender);
    return 0;
}

void dns_tcp_listener(void*) { run_tcp_listener({dns_port, dns_tcp_session, true}); }

void dns_udp_listener(void*) { run_udp_listener({dns_port, dns_datagram, &dns_udp_socket}); }
