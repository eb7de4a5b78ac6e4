// The sessions and datagram replies of the eight services, which only the
// service table names. A session thread's argument is its accepted socket.
#pragma once

#include "listener.h"

void echo_tcp_session(void* connection);
void echo_udp_reply(const datagram& d);
void discard_tcp_session(void* connection);
void discard_udp_reply(const datagram& d);
void daytime_tcp_session(void* connection);
void daytime_udp_reply(const datagram& d);
bool quote_load_file();
void quote_tcp_session(void* connection);
void chargen_tcp_session(void* connection);
void chargen_udp_reply(const datagram& d);
void telnet_tcp_session(void* connection);
void time_tcp_session(void* connection);
void time_udp_reply(const datagram& d);
void dns_tcp_session(void* connection);
void dns_udp_reply(const datagram& d);

// Sends a UDP reply from a fresh socket, so that it leaves from a port that
// the system assigns, and closes the socket.
void send_from_fresh_socket(const net_address* to, const void* data, int length);
