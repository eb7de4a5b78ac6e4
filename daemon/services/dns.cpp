#include "dns.h"

#include <cstring>

#include "clock.h"
#include "service_handlers.h"

// TCP port 53 does not speak DNS: it echoes.
void dns_tcp_session(void* connection) { echo_tcp_session(connection); }

// The answer leaves from the listening socket, so from port 53, as a
// resolver expects.
void dns_udp_reply(const datagram& d)
{
    // A cut datagram is not a query, nor is one from a service's port.
    if (d.over_long || !dns_query_source_port(net_address_port(d.sender))) return;
    // A response is never answered (no resolver does), and the same bytes
    // from the same sender twice in a second are a reflector's, not a
    // client's: either would keep two responders answering each other.
    if (dns_is_response(d.bytes, d.count)) return;
    if (d.recent != nullptr && !recent_datagrams_admit(d.recent, d.sender, d.bytes, d.count, clock_tick_count())) return;
    const int length = dns_build_answer(d.bytes, d.count);
    if (length > 0) net_send_to(d.listener, d.bytes, length, d.sender);
}

bool dns_query_source_port(std::uint16_t source_port)
{
    constexpr std::uint16_t dns_port = 53;
    constexpr std::uint16_t first_unprivileged_port = 1024;
    return source_port == dns_port || source_port >= first_unprivileged_port;
}

bool dns_is_response(const unsigned char* bytes, int count)
{
    constexpr unsigned char qr_bit = 0x80;
    return count > 2 && (bytes[2] & qr_bit) != 0;
}

int dns_build_answer(unsigned char* buffer, int count)
{
    static const unsigned char record[dns_record_size] = {0x01, 0x78, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,
                                                          0x00, 0x00, 0x00, 0x04, 0x5A, 0x00, 0x00, 0x66};
    if (count < dns_header_size) return 0;
    buffer[2] |= 0x84;
    buffer[7] = 0x01;
    std::memcpy(buffer + count, record, dns_record_size);
    return count + dns_record_size;
}
