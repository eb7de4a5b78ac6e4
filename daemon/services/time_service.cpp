#include "time_service.h"

#include "clock.h"

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
    send_udp_reply(d, value, sizeof value);
}

std::uint32_t time_value(std::int64_t unix_seconds)
{
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(unix_seconds) + 2208988800u);
}

void time_bytes(std::int64_t unix_seconds, unsigned char out[4])
{
    const std::uint32_t v = time_value(unix_seconds);
    out[0] = static_cast<unsigned char>(v >> 24);
    out[1] = static_cast<unsigned char>(v >> 16);
    out[2] = static_cast<unsigned char>(v >> 8);
    out[3] = static_cast<unsigned char>(v);
}
