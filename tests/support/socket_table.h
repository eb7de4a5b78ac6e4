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
// Bytes not yet taken by the peer (sent and unacknowledged, or not yet
// sent) on each established TCP connection whose local port is `local_port`.
std::vector<long> tcp_send_queues(std::uint16_t local_port);
// Bytes received and not yet read on each established TCP connection whose
// local port is `local_port`.
std::vector<long> tcp_receive_queues(std::uint16_t local_port);
// Bytes received and not yet read on each established TCP connection to
// `remote_port`.
std::vector<long> tcp_receive_queues_from(std::uint16_t remote_port);
