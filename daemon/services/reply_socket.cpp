#include "service_handlers.h"

void send_from_fresh_socket(const net_address* to, const void* data, int length)
{
    const net_socket s = net_open_datagram();
    if (s == net_invalid_socket) return;
    net_send_to(s, data, length, to);
    net_close(s);
}
