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
int quote_load_file();
void quote_tcp_session(void* connection);
void chargen_tcp_session(void* connection);
void chargen_udp_reply(const datagram& d);
void telnet_tcp_session(void* connection);
void time_tcp_session(void* connection);
void time_udp_reply(const datagram& d);
void dns_tcp_session(void* connection);
void dns_udp_reply(const datagram& d);

// Sends the reply to a datagram of echo, chargen, daytime or time. By default
// from a fresh socket of the sender's family, closed at once, so that it
// leaves from a port that the system assigns and two services can never
// answer each other in a loop. Where the run asks for replies from the
// service's port, from the listening socket instead, and only to a source
// port of 1024 or above (below lie the services of other hosts), and not
// to a repeat of the same bytes from the same sender within a second.
void send_udp_reply(const datagram& d, const void* data, int length);

// Whether the reply to `d` may leave: not when it answers a reflector (for
// a reply from the listener's port: the same bytes from the same sender
// within a second), nor beyond the sender's per-source budget. Counts the
// datagram as answered or refused, and says the first time a source meets
// its limit.
bool reply_may_leave(const datagram& d, bool from_listener);
