#include "service_handlers.h"

void discard_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    stream_room room;
    while (stream_receive(s, &room) > 0) {
    }
    net_close(s);
}

void discard_udp_reply(const datagram&) {}
