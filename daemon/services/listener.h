// The listener pattern that carries every service: a TCP listener accepts
// connections and starts one session thread for each; a UDP listener
// receives datagrams one after another and answers each on its own thread.
#pragma once

#include <cstdint>

#include "sockets.h"
#include "threads.h"

inline constexpr int tcp_listen_backlog = 50;
inline constexpr int udp_receive_offer = 255;
// Room for the largest datagram offered plus what the DNS probe appends.
inline constexpr int udp_buffer_size = 272;

// Handles one received datagram of `count` bytes (0 to 255) from `sender`.
// `over_long` marks a datagram that did not fit the receive: the buffer then
// holds its first 255 bytes.
using datagram_handler = void (*)(const net_address* sender, unsigned char* buffer, int count, bool over_long);

struct tcp_listener_setup {
    std::uint16_t port;
    thread_entry session;       // started with the accepted socket as argument
    bool box_before_session;    // port 53: show the global text as a "TCP" box first
};

struct udp_listener_setup {
    std::uint16_t port;
    datagram_handler handler;   // nullptr: received and dropped
    net_socket* published;      // where the listening socket is kept, if anywhere
};

// The listener loops; they return only when the listener gives up.
void run_tcp_listener(const tcp_listener_setup& setup);
void run_udp_listener(const udp_listener_setup& setup);

// What the UDP listener does with the result of one receive: hands a
// datagram to the handler, or counts a failure. Returns true when the
// listener should pause before the next receive, because failures persist.
bool dispatch_receive(const udp_listener_setup& setup, int received, int error, const net_address* sender,
                      unsigned char* buffer, int* failures_in_a_row);

// A session thread's argument is its accepted socket.
inline net_socket session_socket(void* argument) { return static_cast<net_socket>(thread_argument_value(argument)); }
