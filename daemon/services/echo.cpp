#include <cstdint>

#include "echo_stream.h"
#include "service_handlers.h"

// The buffers of an echo connection. A client that sends and never reads
// pins, on the server's side, what its session cannot send back and what
// it has sent and the session has not received yet: kernel memory that
// every TCP program on the machine shares. Left to itself, Linux grows
// both for a stream (the receive buffer as the session reads, up to the
// tcp_rmem maximum) and keeps what it grew.
//
// The send buffer is limited as chargen's, and for the same reason. The
// receive buffer starts small, and is raised once the session has echoed
// echo_stream_after bytes: more than a client that does not read can have
// taken back, while the session's buffers are the first ones and the
// client's those the systems give by default. Smaller still, either
// buffer holds less than two of the 64 KiB segments of loopback, and a
// client that streams large blocks there waits for the system's delayed
// acknowledgements (bench/RESULTS.md). A client that reads at first and
// then stops, or takes the first MiB into a large buffer of its own, holds
// at most the raised buffers: the receive buffer is therefore raised to no
// more than streams need, and no longer grows by itself. A client
// that sends more than the buffers on both sides hold before it reads
// anything waits for ever, as with every echo; how much that is depends
// most on the client's own send buffer (bench/RESULTS.md).
constexpr int echo_send_buffer = 64 * 1024;
constexpr int echo_first_receive_buffer = 32 * 1024;
constexpr std::int64_t echo_stream_after = 1024 * 1024;
constexpr int echo_stream_receive_buffer = 256 * 1024;

// Each portion goes back whole, in one send, before the next receive: the
// fewest system calls per byte. (Sending a lone session's portions in two
// halves, to let its client start on the first half sooner, cost more
// system calls per MB, and a client that waits for all it sent got the
// second half only after the system's delayed acknowledgement.)
void echo_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    // Should the system refuse a limit, its own stays: the stream is echoed all the same.
    net_limit_send_buffer(s, echo_send_buffer);
    net_limit_receive_buffer(s, echo_first_receive_buffer);
    echo_stream echo;
    std::int64_t echoed = 0;
    for (;;) {
        const int received = echo_stream_portion(s, &echo);
        if (received <= 0) break;
        if (echoed < echo_stream_after && (echoed += received) >= echo_stream_after)
            net_limit_receive_buffer(s, echo_stream_receive_buffer);
    }
    net_close(s);
}

void echo_udp_reply(const datagram& d)
{
    // An over-long datagram was not received whole: nothing to echo.
    if (!d.over_long) send_udp_reply(d, d.bytes, d.count);
}
