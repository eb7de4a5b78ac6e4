#include "service_table.h"

#include "service_handlers.h"

// Daytime and time sessions send a few bytes into a just-accepted socket and
// close it, which never blocks: they run on their listener's thread. Every
// other session may wait on its client and gets a thread of its own.
const service_row service_table[service_count] = {
    {"echo", 7, echo_tcp_session, session_on_own_thread, echo_udp_reply, nullptr, false},
    {"discard", 9, discard_tcp_session, session_on_own_thread, discard_udp_reply, nullptr, false},
    {"daytime", 13, daytime_tcp_session, session_on_listener, daytime_udp_reply, nullptr, false},
    {"quote", 17, quote_tcp_session, session_on_own_thread, nullptr, quote_load_file, false},
    {"chargen", 19, chargen_tcp_session, session_on_own_thread, chargen_udp_reply, nullptr, false},
    {"telnet", 23, telnet_tcp_session, session_on_own_thread, nullptr, nullptr, false},
    {"time", 37, time_tcp_session, session_on_listener, time_udp_reply, nullptr, false},
    {"dns", 53, dns_tcp_session, session_on_own_thread, dns_udp_reply, nullptr, true},
};
