#include "services.h"

const service_row service_table[service_count] = {
    {"echo", 7, 0, echo_tcp_listener, echo_udp_listener},
    {"discard", 9, 1, discard_tcp_listener, discard_udp_listener},
    {"daytime", 13, 2, daytime_tcp_listener, daytime_udp_listener},
    {"quote", 17, 3, quote_tcp_listener, nullptr},
    {"chargen", 19, 4, chargen_tcp_listener, chargen_udp_listener},
    {"telnet", 23, 5, telnet_tcp_listener, nullptr},
    {"time", 37, 6, time_tcp_listener, time_udp_listener},
    {"dns", 53, 7, dns_tcp_listener, dns_udp_listener},
};
