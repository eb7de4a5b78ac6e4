// The datagrams a UDP listener answered lately, so that a service that
// answers from its own port (the DNS probe; echo, chargen, daytime and time
// with --udp-reply-port=service) can tell a reflector from a client: a
// responder that sends back what it got, at once, again and again, would
// otherwise keep the service answering for as long as both run. A client
// that asks again after a second is answered again.
#pragma once

#include <cstdint>
#include <memory>

#include "sockets.h"

// How long after an answer the same bytes from the same sender count as a
// repeat, and how many answers are remembered. A reflector only ever sends
// back what it got, so each datagram it keeps in circulation ends at its
// first repeat, however many it keeps going at once, as long as they are
// fewer than the answers remembered: the queues of the two sockets bound
// how many can circulate, a few hundred small ones by default. A client
// whose answer was lost and that asks again is answered again once the
// second is over.
//
// Each answer is remembered as a 64-bit digest of its sender (address and
// port) and bytes, keyed with a secret drawn for the table: a peer cannot
// choose bytes whose digests meet, nor steer them to one bucket. The
// oldest answer is forgotten first, whatever its bucket, so no choice of
// bytes or senders makes the table forget an answer sooner than
// recent_capacity answers later. 72 KiB per listener that needs it.
inline constexpr std::uint32_t recent_window_ms = 1000;
inline constexpr int recent_capacity = 4096;

struct recent_datagrams {
    struct entry {
        std::uint64_t digest;
        std::uint32_t seen_ms;
        std::uint16_t chain; // the next entry of the bucket, plus one; 0: none
        std::uint16_t in_use;
    };
    std::uint64_t key[2];
    entry entries[recent_capacity];          // in the order answered, from `next` on the oldest
    std::uint16_t buckets[recent_capacity]; // the newest entry of each bucket, plus one; 0: none
    int next;
};

// A table with a fresh key, empty; nullptr without memory for it.
std::unique_ptr<recent_datagrams> recent_datagrams_make();

// Whether the datagram of `count` bytes from `sender`, arriving at
// `now_ms` (a tick count that wraps), is new: true when it is to be
// answered (it is then remembered), false when the same bytes came from
// the same sender within the window after an answer.
bool recent_datagrams_admit(recent_datagrams* table, const net_address* sender, const unsigned char* bytes, int count,
                            std::uint32_t now_ms);
