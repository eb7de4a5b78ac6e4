// What the system's socket tables say about the calling thread's network
// namespace: which ports are open and what waits in a UDP socket.
#pragma once

#include <cstdint>
#include <set>
#include <vector>

// Ports with a listening TCP socket, on any local address.
std::set<int> listening_tcp_ports();
// Ports with a bound UDP socket, on any local address.
std::set<int> bound_udp_ports();
// Bytes waiting in the receive queue of the UDP socket bound to `port`; -1
// when no socket is bound there.
long udp_receive_queue(std::uint16_t port);
// Waits until every one of the TCP ports listens and every one of the UDP
// ports is bound, at most `timeout_ms`.
bool wait_for_ports(const std::vector<std::uint16_t>& tcp, const std::vector<std::uint16_t>& udp, int timeout_ms);
