// Time: its byte format, free of sockets and clocks.
#pragma once

#include <cstddef>
#include <cstdint>

// Seconds since 1900 modulo 2^32, as the 4 bytes sent, most
// significant first.
std::uint32_t time_value(std::int64_t unix_seconds);
void time_bytes(std::int64_t unix_seconds, unsigned char out[4]);
