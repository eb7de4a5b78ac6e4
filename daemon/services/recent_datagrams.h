// The datagrams a UDP listener answered lately, so that a service that
// answers from its own port (the DNS probe) can tell a reflector from a
// client: a responder that sends the same bytes back at once, again and
// again, would otherwise keep the probe answering for as long as both run.
// A client that asks again after a second is answered again.
#pragma once

#include <cstdint>

#include "sockets.h"

// How long after an answer the same bytes from the same sender count as a
// repeat, and how many (sender, bytes) pairs are remembered. A reflector
// only ever sends back what it got, so its exchange with the probe ends at
// the first repeat; a client whose answer was lost and that asks again
// is answered again once the second is over. 128 slots of 8 bytes lie on
// the listener's stack.
inline constexpr std::uint32_t recent_window_ms = 1000;
inline constexpr int recent_slots = 128;

struct recent_datagrams {
    struct slot {
        std::uint32_t key; // hash of sender and bytes; 0: empty
        std::uint32_t seen_ms;
    } slots[recent_slots];
};

// Starts the table empty.
void recent_datagrams_clear(recent_datagrams* table);

// Whether the datagram of `count` bytes from `sender`, arriving at
// `now_ms` (a tick count that wraps), is new: true when it is to be
// answered (it is then remembered), false when the same bytes came from
// the same sender within the window.
bool recent_datagrams_admit(recent_datagrams* table, const net_address* sender, const unsigned char* bytes, int count,
                            std::uint32_t now_ms);
