#include "formats.h"
#include "service_handlers.h"

// TCP port 53 does not speak DNS: it echoes.
void dns_tcp_session(void* connection) { echo_tcp_session(connection); }

// The answer leaves from the listening socket, so from port 53, as a
// resolver expects.
void dns_udp_reply(const datagram& d)
{
    // A cut datagram is not a query, nor is one from a service's port.
    if (d.over_long || !dns_query_source_port(net_address_port(d.sender))) return;
    const int length = dns_build_answer(d.bytes, d.count);
    if (length > 0) net_send_to(d.listener, d.bytes, length, d.sender);
}
