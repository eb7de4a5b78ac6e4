// Raw loopback sockets for the scripted servers that stand in for Velmora.
// Every wait takes a time-out.
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
