#include "service_handlers.h"

void echo_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    unsigned char buffer[stream_portion];
    int received;
    while ((received = net_recv(s, buffer, stream_portion)) > 0) net_send(s, buffer, received);
    net_close(s);
}

void echo_udp_reply(const datagram& d)
{
    // An over-long datagram was not received whole: nothing to echo.
    if (!d.over_long) send_from_fresh_socket(d.sender, d.bytes, d.count);
}
