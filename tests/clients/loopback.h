// Raw loopback sockets for the scripted servers that stand in for Velmora,
// and a look at which ports are open. Every wait takes a time-out.
#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>

// A UDP socket bound to 127.0.0.1:port, or -1.
int udp_bound(std::uint16_t port);
// A TCP socket listening on 127.0.0.1:port, or -1.
int tcp_listening(std::uint16_t port);

// True when `fd` has something to read within `timeout_ms`.
bool readable_within(int fd, int timeout_ms);

// Receives one datagram within `timeout_ms`, with its sender. Returns the
// datagram, or fails the receive with `*received` false.
std::string receive_datagram(int fd, int timeout_ms, sockaddr_in* sender, bool* received);

// Accepts one connection within `timeout_ms`; -1 when none came.
int accept_within(int fd, int timeout_ms);

// Sends all of `data` on a connected socket; false on failure.
bool send_all(int fd, const std::string& data);

// True when a socket of this kind is bound to `port` on any local address in
// the current network namespace (TCP: listening).
bool port_open(bool tcp, std::uint16_t port);

// Waits until port_open(tcp, port), at most `timeout_ms`.
bool wait_for_port(bool tcp, std::uint16_t port, int timeout_ms);
