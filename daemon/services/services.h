// The eight services: their listener threads, sessions and reply functions,
// and the table that maps each service to its port, selection word and
// handlers in the fixed start order.
#pragma once

#include <cstdint>

#include "listener.h"

// Listener threads (no argument) and TCP sessions (the accepted socket).
void echo_tcp_listener(void*);
void echo_udp_listener(void*);
void echo_tcp_session(void* connection);
int echo_udp_reply(const net_address* sender, const unsigned char* data, int count);

void discard_tcp_listener(void*);
void discard_udp_listener(void*);
void discard_tcp_session(void* connection);

void daytime_tcp_listener(void*);
void daytime_udp_listener(void*);
void daytime_tcp_session(void* connection);
int daytime_udp_reply(const net_address* sender);

void quote_tcp_listener(void*);
void quote_tcp_session(void* connection);

void chargen_tcp_listener(void*);
void chargen_udp_listener(void*);
void chargen_tcp_session(void* connection);
int chargen_udp_reply(const net_address* sender);

void telnet_tcp_listener(void*);
void telnet_tcp_session(void* connection);

void time_tcp_listener(void*);
void time_udp_listener(void*);
void time_tcp_session(void* connection);
int time_udp_reply(const net_address* sender);

void dns_tcp_listener(void*);
void dns_udp_listener(void*);
void dns_tcp_session(void* connection);
int dns_udp_reply(const net_address* sender, unsigned char* buffer, int count);

// The DNS probe answers from its listening socket, so that answers leave
// from port 53.
extern net_socket dns_udp_socket;

struct service_row {
    const char* name;
    std::uint16_t port;
    int selection_flag;          // index of the service's flag among the record's ten flags
    thread_entry tcp_listener;
    thread_entry udp_listener;   // nullptr for a TCP-only service
};

inline constexpr int service_count = 8;
// echo, discard, daytime, quote, chargen, telnet, time, dns: the start order.
extern const service_row service_table[service_count];

// Sends a UDP reply from a fresh socket, so that it leaves from a port that
// the system assigns, and closes the socket.
void send_from_fresh_socket(const net_address* to, const void* data, int length);
