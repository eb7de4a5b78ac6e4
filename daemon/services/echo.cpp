#include <atomic>

#include "service_handlers.h"

namespace {

// Echo sessions running now, on ports 7 and 53 together.
std::atomic<int> echo_sessions{0};

// A portion goes back in two halves while its session is the only one: the
// client gets the first half while the second is still being sent and works
// on it meanwhile, which makes a lone stream about a tenth faster. With more
// sessions than that the CPU, not the wait, bounds them, and each portion
// goes back in one send, the fewest system calls per byte.
void send_portion(net_socket s, const unsigned char* bytes, int count)
{
    const int first = count > stream_portion / 2 && echo_sessions.load(std::memory_order_relaxed) == 1 ? count / 2 : count;
    if (net_send(s, bytes, first) == first && first < count) net_send(s, bytes + first, count - first);
}

} // namespace

void echo_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    echo_sessions.fetch_add(1, std::memory_order_relaxed);
    unsigned char buffer[stream_portion];
    int received;
    while ((received = net_recv(s, buffer, stream_portion)) > 0) send_portion(s, buffer, received);
    echo_sessions.fetch_sub(1, std::memory_order_relaxed);
    net_close(s);
}

void echo_udp_reply(const datagram& d)
{
    // An over-long datagram was not received whole: nothing to echo.
    if (!d.over_long) send_udp_reply(d, d.bytes, d.count);
}
