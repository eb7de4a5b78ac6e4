// A secret for keyed digests of what peers send: drawn once per table, so
// that a peer cannot choose bytes whose digests meet.
#pragma once

#include <cstdint>

// Fills `key` with 128 bits that a peer cannot predict: the system's random
// source where there is one, else what differs from run to run and from
// moment to moment (times, thread and memory addresses).
void secret_key_draw(std::uint64_t key[2]);
