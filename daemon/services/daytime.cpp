#include "formats.h"
#include "services.h"

namespace {

constexpr std::uint16_t daytime_port = 13;

// The text of this moment, in local time; false when the clock cannot be
// converted (the client then gets nothing).
bool daytime_now(char text[daytime_text_size])
{
    calendar_time now{};
    if (!clock_local_time(clock_seconds_now(), &now)) return false;
    format_daytime(now, text);
    return true;
}

void daytime_datagram(const net_address* sender, unsigned char*, int, bool) { daytime_udp_reply(sender); }

} // namespace

void daytime_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    char text[daytime_text_size];
    if (daytime_now(text)) net_send(s, text, daytime_text_size);
    net_close(s);
}

int daytime_udp_reply(const net_address* sender)
{
    char text[daytime_text_size];
    if (daytime_now(text)) send_from_fresh_socket(sender, text, daytime_text_size);
    return 0;
}

void daytime_tcp_listener(void*) { run_tcp_listener({daytime_port, daytime_tcp_session, false}); }

void daytime_udp_listener(void*) { run_udp_listener({daytime_port, daytime_datagram, nullptr}); }
