// What one source outside loopback may have of the services: UDP replies a
// second per service, and TCP sessions open at once across services. A
// source is an IPv4 address or an IPv6 /64, the least a host on a network
// holds, except where the /64 is not one host's: a link-local address
// (fe80::/10) is a source with its link, and a NAT64 address (64:ff9b::/96)
// is the IPv4 host it carries. Loopback (127.0.0.0/8, ::1 and their
// IPv4-mapped forms) is never limited. Shared by every listener thread of a
// run.
#pragma once

#include <cstdint>

#include "sockets.h"
#include "threads.h"

// The defaults: what a reflector, a forged victim or one busy host gets.
inline constexpr int default_replies_per_second = 50;
inline constexpr int default_sessions_per_source = 64;
// The most that can be asked for: a budget in thousandths of a reply fits
// 32 bits, and an entry counts its sessions in 16.
inline constexpr int most_replies_per_source = 1000000;
inline constexpr int most_sessions_per_source = 65535;
// How many sources are followed at once; the one used longest ago gives
// way to a new one, unless it has sessions open. 408 KiB.
inline constexpr int source_table_size = 4096;
// The services whose replies are counted apart, by their index in the
// service table.
inline constexpr int source_services = 8;

// A source as the table keys it: an IPv4 address in its IPv6-mapped form,
// a link-local address whole with its scope (the link's number), or the
// first 64 bits of another IPv6 address followed by zeros.
struct source_key {
    unsigned char bytes[16];
    unsigned char scope[4]; // as the socket address holds it; zeros but link-local
};
// False for a loopback source, which no limit touches.
bool source_of(const net_address* peer, source_key* key);

// The burst of replies that a source may have at once: a fifth of a
// second's worth, at least one.
int reply_burst(int replies_per_second);

// What a source's next reply or session meets.
enum class source_verdict {
    allowed,
    refused,       // over the limit, already said
    refused_first, // over the limit, the first time for this source: say it
    full_first,    // no place in the table, the first time: say it
};

struct source_limits {
    struct entry {
        source_key key;
        std::uint32_t last_ms; // the last time the source was met
        std::uint16_t sessions_open;
        std::uint16_t newer, older; // the order of use, plus one; 0: none
        std::uint16_t chain;        // the next entry of the bucket, plus one
        bool in_use;
        bool said_replies, said_sessions;
        // Each service's reply budget, in thousandths of a reply, as of
        // `refilled_ms`.
        std::uint32_t budget[source_services];
        std::uint32_t refilled_ms[source_services];
    };
    int replies_per_second; // 0: replies not limited
    int sessions_per_source; // 0: sessions not limited
    thread_lock* lock;
    std::uint64_t key[2];
    std::uint16_t newest, oldest; // plus one; 0: none
    int used;
    bool said_full;
    // The reply budgets that sources without a place share, one source's
    // worth per service.
    std::uint32_t overflow_budget[source_services];
    std::uint32_t overflow_refilled_ms[source_services];
    entry entries[source_table_size];
    std::uint16_t buckets[source_table_size];
};

// A table for the given limits (0: off); nullptr when both are off, or
// without memory or a lock for it (`failed` then says so).
source_limits* source_limits_make(int replies_per_second, int sessions_per_source, bool* failed);

// Whether one more reply of service `service` may go to `peer` at `now_ms`
// (a tick count that wraps); an allowed reply is taken from the budget.
source_verdict source_reply_allowed(source_limits* limits, const net_address* peer, int service,
                                    std::uint32_t now_ms);
// Whether a session from `peer` may start; an allowed one is counted open
// until source_session_end. A source with sessions open keeps its place in
// the table; when every place holds one, a new source's sessions are
// refused, and its replies come from a budget that all such sources share.
source_verdict source_session_begin(source_limits* limits, const net_address* peer, std::uint32_t now_ms);
void source_session_end(source_limits* limits, const net_address* peer);
