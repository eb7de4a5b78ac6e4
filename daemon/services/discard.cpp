#include "service_handlers.h"

void discard_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    unsigned char buffer[stream_portion];
    while (net_recv(s, buffer, stream_portion) > 0) {
    }
    net_close(s);
}

void discard_udp_reply(const datagram&) {}
