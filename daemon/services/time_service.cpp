#include "formats.h"
#include "services.h"

namespace {

constexpr std::uint16_t time_port = 37;

void time_datagram(const net_address* sender, unsigned char*, int, bool) { time_udp_reply(sender); }

} // namespace

void time_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    unsigned char value[4];
    time_bytes(clock_seconds_now(), value);
    net_send(s, value, sizeof value);
    net_close(s);
}

int time_udp_reply(const net_address* sender)
{
    unsigned char value[4];
    time_bytes(clock_seconds_now(), value);
    send_from_fresh_socket(sender, value, sizeof value);
    return 0;
}

void time_tcp_listener(void*) { run_tcp_listener({time_port, time_tcp_session, false}); }

void time_udp_listener(void*) { run_udp_listener({time_port, time_datagram, nullptr}); }
