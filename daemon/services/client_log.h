// The lines of --log-clients: one per TCP session as it ends, and one the
// first time a source meets a limit. Pure formatting, for the listeners.
#pragma once

#include <cstddef>
#include <cstdint>

#include "sockets.h"

// "10.9.0.2:40312", "[2001:db8::7]:40312"; an IPv4-mapped address as IPv4.
// Without the port when `with_port` is false, as the source that the
// limits count: "2001:db8::/64", "fe80::7%2" (link-local, with its link's
// number), "10.9.0.2" for 64:ff9b::a09:2 (NAT64).
void format_peer(char* text, std::size_t size, const net_address* peer, bool with_port);

// "daytime 10.9.0.2:40312: 0 bytes in, 26 out, 0.003 s"
void format_session_end(char* text, std::size_t size, const char* service, const net_address* peer,
                        std::uint64_t bytes_in, std::uint64_t bytes_out, std::uint64_t milliseconds);

// How long a session lasted, from the tick counts' difference (exact, but
// modulo 2^32 ms, 49.7 days) and the wall clock's (whole seconds, and
// stepped at times): the ticks with as many wraps as the wall clock tells.
std::uint64_t session_length_ms(std::uint32_t ticks_elapsed, std::int64_t seconds_elapsed);

// Which limit a source met.
enum class source_limit_kind { replies, sessions, table_full };
// "10.9.0.2 met the limit of 50 chargen replies a second: the rest are
// dropped and counted" and the like; an IPv6 source is named by its /64.
void format_limit_met(char* text, std::size_t size, source_limit_kind kind, const char* service,
                      const net_address* peer, int limit);
