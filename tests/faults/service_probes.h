// One short conversation with each of Velmora's fourteen listeners, checking
// the first bytes of the answer, so that a test can ask whether every
// service still serves after what it did to the program.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline const std::vector<std::uint16_t> tcp_service_ports = {7, 9, 13, 17, 19, 23, 37, 53};
inline const std::vector<std::uint16_t> udp_service_ports = {7, 9, 13, 19, 37, 53};

// Each returns an empty text when the listener served, else what went wrong.
std::string probe_tcp(std::uint16_t port);
std::string probe_udp(std::uint16_t port);

// Every listener of a Velmora with all services on; the failures, one per line.
std::string probe_every_listener();

// The documented DNS query for the name q and the answer it must get.
std::vector<unsigned char> dns_query_q();
std::vector<unsigned char> dns_answer_q();
