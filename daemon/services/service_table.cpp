#include "service_table.h"

#include "service_handlers.h"

// Daytime and time sessions send a few bytes into a just-accepted socket and
// close it, which never blocks: they run on their listener's thread. Every
// other session may wait on its client and gets a thread of its own.
const service_row service_table[service_count] = {
    {"echo", 7, 0, echo_tcp_session, session_on_own_thread, echo_udp_reply, nullptr, false, 101},
    {"discard", 9, 1, discard_tcp_session, session_on_own_thread, discard_udp_reply, nullptr, false, 102},
    {"daytime", 13, 2, daytime_tcp_session, session_on_listener, daytime_udp_reply, nullptr, false, 103},
    {"quote", 17, 3, quote_tcp_session, session_on_own_thread, nullptr, quote_load_file, false, 104},
    {"chargen", 19, 4, chargen_tcp_session, session_on_own_thread, chargen_udp_reply, nullptr, false, 105},
    {"telnet", 23, 5, telnet_tcp_session, session_on_own_thread, nullptr, nullptr, false, 106},
    {"time", 37, 6, time_tcp_session, session_on_listener, time_udp_reply, nullptr, false, 115},
    {"dns", 53, 7, dns_tcp_session, session_on_own_thread, dns_udp_reply, nullptr, true, 114},
};
