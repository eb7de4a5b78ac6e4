#include "service_table.h"

#include "service_handlers.h"

const service_row service_table[service_count] = {
    {"echo", 7, 0, echo_tcp_session, echo_udp_reply, nullptr, false},
    {"discard", 9, 1, discard_tcp_session, discard_udp_reply, nullptr, false},
    {"daytime", 13, 2, daytime_tcp_session, daytime_udp_reply, nullptr, false},
    {"quote", 17, 3, quote_tcp_session, nullptr, quote_load_file, false},
    {"chargen", 19, 4, chargen_tcp_session, chargen_udp_reply, nullptr, false},
    {"telnet", 23, 5, telnet_tcp_session, nullptr, nullptr, false},
    {"time", 37, 6, time_tcp_session, time_udp_reply, nullptr, false},
    {"dns", 53, 7, dns_tcp_session, dns_udp_reply, nullptr, true},
};
