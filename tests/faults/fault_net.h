// Sockets as the fault tests use them: short time-outs everywhere, so that
// a service that stopped answering fails a test instead of hanging it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "socket_table.h"
#include "test_sockets.h"

// Moves the calling thread into a fresh network namespace with loopback up,
// so that every test binds the well-known ports afresh, free of the
// TIME_WAIT sockets and listeners of the test before it. False on failure.
bool enter_fresh_network_namespace();

// Connects to 127.0.0.1:port; -1 when no connection is made within the time.
int tcp_connect(std::uint16_t port, int timeout_ms);
// Starts a connection without waiting for it; -1 when the socket cannot be made.
int tcp_connect_started(std::uint16_t port);
// Reads until the peer closes, `limit` bytes have come, or the time is up.
// `closed` tells whether the peer's close was seen.
std::string tcp_read(int fd, std::size_t limit, int timeout_ms, bool* closed = nullptr);
// Sends everything within the time; false when it could not.
bool tcp_send(int fd, const void* data, std::size_t size, int timeout_ms);

// A UDP socket bound to 127.0.0.1 and `port` (0: an ephemeral one).
int udp_open(std::uint16_t port = 0);
bool udp_send(int fd, std::uint16_t port, const void* data, std::size_t size);
// Waits for one datagram from anywhere; false when none comes in time.
bool udp_receive(int fd, std::vector<unsigned char>* datagram, int timeout_ms);
