#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "formats.h"
#include "service_handlers.h"

namespace {

constexpr char banner[] =
    "\r\n  Welcome to Velmora - Copyright (C) Velmora developers. All rights reserved."
    "\r\n\r\n*** TelnetD Error ***\r\nSorry, but this system does NOT support remote logins.";

// Formats into a 1024-byte buffer of the caller's thread and sends the text
// up to its NUL in one send.
[[gnu::format(printf, 2, 3)]] void send_formatted(net_socket s, const char* format, ...)
{
    char text[1024];
    va_list values;
    va_start(values, format);
    const int n = std::vsnprintf(text, sizeof text, format, values);
    va_end(values);
    if (n < 0) return;
    const int length = static_cast<int>(std::strlen(text));
    if (length > 0) net_send(s, text, length);
}

} // namespace

void telnet_tcp_session(void* connection)
{
    const net_socket s = session_socket(connection);
    send_formatted(s, "%s", banner);
    telnet_session_state session;
    unsigned char byte;
    while (net_recv(s, &byte, 1) > 0) {
        const telnet_output out = telnet_parse(&session, byte);
        if (out.count == 1) send_formatted(s, "%c", out.bytes[0]);
        else if (out.count == 3) net_send(s, out.bytes, 3);
    }
    net_close(s);
}
