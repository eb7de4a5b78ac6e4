#include "daytime.h"

#include <cstring>

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
    if (daytime_now(text)) send_udp_reply(d, text, daytime_text_size);
}

namespace {

void two_digits(char* out, int value)
{
    out[0] = static_cast<char>('0' + value / 10 % 10);
    out[1] = static_cast<char>('0' + value % 10);
}

} // namespace

int format_daytime(const calendar_time& when, char out[daytime_text_size])
{
    static const char days[] = "SunMonTueWedThuFriSat";
    static const char months[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const int weekday = ((when.weekday % 7) + 7) % 7;
    const int month = ((when.month % 12) + 12) % 12;
    std::memcpy(out, days + 3 * weekday, 3);
    out[3] = ' ';
    std::memcpy(out + 4, months + 3 * month, 3);
    out[7] = ' ';
    out[8] = when.day >= 10 ? static_cast<char>('0' + when.day / 10 % 10) : ' ';
    out[9] = static_cast<char>('0' + when.day % 10);
    out[10] = ' ';
    two_digits(out + 11, when.hour);
    out[13] = ':';
    two_digits(out + 14, when.minute);
    out[16] = ':';
    two_digits(out + 17, when.second);
    out[19] = ' ';
    two_digits(out + 20, when.year / 100);
    two_digits(out + 22, when.year);
    out[24] = '\n';
    return daytime_text_size;
}
