#include "echo_stream.h"
#include "service_handlers.h"

// Each portion goes back in one send, whole, before the next receive: the
// fewest system calls per byte. (Sending a lone session's portions in two
// halves, to let its client start on the first half sooner, cost more
// system calls per MB, and a client that waits for all it sent got the
// second half only after the system's delayed acknowledgement.)
void echo_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    echo_stream echo;
    while (echo_stream_portion(s, &echo) > 0) {
    }
    net_close(s);
}

void echo_udp_reply(const datagram& d)
{
    // An over-long datagram was not received whole: nothing to echo.
    if (!d.over_long) send_udp_reply(d, d.bytes, d.count);
}
