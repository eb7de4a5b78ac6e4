#include "service_handlers.h"
#include "stream_session.h"

void discard_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    stream_buffer buffer;
    while (stream_receive(s, &buffer) > 0) {
    }
    net_close(s);
}

void discard_udp_reply(const datagram&) {}
