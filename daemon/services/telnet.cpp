#include "telnet.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "service_handlers.h"

namespace {

// A receive takes up to this much; it lies on the session's stack beside
// send_formatted's 1024 bytes, well within a session thread's stack.
constexpr int telnet_receive_block = 2048;

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
    // The bytes come in blocks, a receive for whatever has arrived, and the
    // parser still takes them one at a time: what goes back is the same as
    // with a receive per byte (an echoed character is still one send), but
    // text that is not echoed costs one system call per block, not per byte.
    unsigned char block[telnet_receive_block];
    int received;
    while ((received = net_recv(s, block, telnet_receive_block)) > 0) {
        for (int i = 0; i < received; ++i) {
            const telnet_output out = telnet_parse(&session, block[i]);
            if (out.count == 1) send_formatted(s, "%c", out.bytes[0]);
            else if (out.count == 3) net_send(s, out.bytes, 3);
        }
    }
    net_close(s);
}

namespace {

constexpr unsigned char iac = 255, will = 251, wont = 252, do_ = 253, dont = 254, echo_option = 1;

telnet_output answer(unsigned char verb, unsigned char option)
{
    return telnet_output{{iac, verb, option}, 3};
}

} // namespace

telnet_output telnet_parse(telnet_session_state* session, unsigned char byte)
{
    switch (session->state) {
    case telnet_state::data:
        if (byte == iac) {
            session->state = telnet_state::command;
            return {};
        }
        if (session->echo_on && byte != 0) return telnet_output{{byte, 0, 0}, 1};
        return {};
    case telnet_state::command:
        switch (byte) {
        case will: session->state = telnet_state::will_option; break;
        case wont:
        case dont: session->state = telnet_state::refuse_option; break;
        case do_: session->state = telnet_state::do_option; break;
        case iac: session->state = telnet_state::data; break;
        default: break; // waits for a byte from 251 to 255
        }
        return {};
    case telnet_state::do_option:
        session->state = telnet_state::data;
        if (byte == echo_option) {
            session->echo_on = true;
            return answer(will, byte);
        }
        return answer(wont, byte);
    case telnet_state::will_option:
        session->state = telnet_state::data;
        return answer(dont, byte);
    case telnet_state::refuse_option:
        session->state = telnet_state::data;
        if (byte == echo_option) session->echo_on = false;
        return answer(wont, byte);
    }
    return {};
}
