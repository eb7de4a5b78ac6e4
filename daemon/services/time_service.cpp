#include "formats.h"
#include "service_handlers.h"

void time_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    unsigned char value[4];
    time_bytes(clock_seconds_now(), value);
    net_send_last(s, value, sizeof value);
    net_close(s);
}

void time_udp_reply(const datagram& d)
{
    unsigned char value[4];
    time_bytes(clock_seconds_now(), value);
    send_from_fresh_socket(d.sender, value, sizeof value);
}
