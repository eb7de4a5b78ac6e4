// Telnet refusal: its option parser, free of sockets.
#pragma once

#include <cstddef>
#include <cstdint>

// The parser's state, fed one byte at a time.
enum class telnet_state { data, command, will_option, do_option, refuse_option };
struct telnet_session_state {
    telnet_state state = telnet_state::data;
    bool echo_on = false;
};
struct telnet_output {
    unsigned char bytes[3];
    int count; // 0: nothing; 1: an echoed byte; 3: an answer IAC verb option
};
telnet_output telnet_parse(telnet_session_state* session, unsigned char byte);
