// Small pieces that every loopback test needs.
#pragma once

#include <cstdint>
#include <netinet/in.h>

// 127.0.0.1:port.
sockaddr_in loopback_address(std::uint16_t port);

// True when `fd` becomes ready for `events` (poll flags) within `timeout_ms`.
bool ready_within(int fd, short events, int timeout_ms);

// Closes with a reset instead of an orderly close (SO_LINGER 0).
void close_with_reset(int fd);
