#include "formats.h"
#include "service_handlers.h"

namespace {

// The text of this moment, in local time; false when the clock cannot be
// converted (the client then gets nothing).
bool daytime_now(char text[daytime_text_size])
{
    calendar_time now{};
    if (!clock_local_time(clock_seconds_now(), &now)) return false;
    format_daytime(now, text);
    return true;
}

} // namespace

void daytime_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    char text[daytime_text_size];
    if (daytime_now(text)) net_send_last(s, text, daytime_text_size);
    net_close(s);
}

void daytime_udp_reply(const datagram& d)
{
    char text[daytime_text_size];
    if (daytime_now(text)) send_from_fresh_socket(d.sender, text, daytime_text_size);
}
