#include "echo_stream.h"
#include "service_handlers.h"

// The send buffer of an echo connection, as chargen's and for the same
// reason: unbounded, Linux grows the queue of a client that sends and never
// reads to megabytes of kernel memory that every TCP program on the machine
// shares. Streams lose nothing by it, on loopback they spend less CPU per
// MB (bench/RESULTS.md). What such a client has sent and the session has
// not received yet stays within the receive window the system grants.
constexpr int echo_send_buffer = 64 * 1024;

// Each portion goes back in one send, whole, before the next receive: the
// fewest system calls per byte. (Sending a lone session's portions in two
// halves, to let its client start on the first half sooner, cost more
// system calls per MB, and a client that waits for all it sent got the
// second half only after the system's delayed acknowledgement.)
void echo_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    // Should the system refuse, its own limit stays: the stream is echoed all the same.
    net_limit_send_buffer(s, echo_send_buffer);
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
