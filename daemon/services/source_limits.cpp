#include "source_limits.h"

#include <cstring>
#include <new>

#include "keyed_digest.h"
#include "secret_key.h"

namespace {

static_assert((source_table_size & (source_table_size - 1)) == 0, "buckets are picked by a mask");
static_assert(source_table_size < 65536, "entries are named in 16 bits");

// The offsets of the address in a socket address, the same on every system.
constexpr int ipv4_at = 4;
constexpr int ipv6_at = 8;
constexpr unsigned char mapped_prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
constexpr int scope_at = 24;
constexpr unsigned char ipv6_loopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
constexpr unsigned char nat64_prefix[12] = {0, 0x64, 0xFF, 0x9B, 0, 0, 0, 0, 0, 0, 0, 0};
constexpr std::uint32_t thousandths = 1000;
// How much older than the last one a clock reading may reach the table: a
// listener can be held between its reading and the lock.
constexpr std::uint32_t most_late_reading_ms = 60 * 1000;

using entry = source_limits::entry;

bool same_key(const source_key& a, const source_key& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

int bucket_of(const source_limits& limits, const source_key& key)
{
    keyed_digest d;
    keyed_digest_start(&d, limits.key);
    keyed_digest_add(&d, reinterpret_cast<const unsigned char*>(&key), sizeof key);
    return static_cast<int>(keyed_digest_end(&d) >> 40) & (source_table_size - 1);
}

// The order of use: a doubly linked list of entries, newest first.
void take_out_of_order(source_limits* limits, int index)
{
    entry& e = limits->entries[index];
    if (e.newer != 0) limits->entries[e.newer - 1].older = e.older;
    else limits->newest = e.older;
    if (e.older != 0) limits->entries[e.older - 1].newer = e.newer;
    else limits->oldest = e.newer;
    e.newer = e.older = 0;
}

void put_first_in_order(source_limits* limits, int index)
{
    entry& e = limits->entries[index];
    e.older = limits->newest;
    e.newer = 0;
    if (limits->newest != 0) limits->entries[limits->newest - 1].newer = static_cast<std::uint16_t>(index + 1);
    limits->newest = static_cast<std::uint16_t>(index + 1);
    if (limits->oldest == 0) limits->oldest = limits->newest;
}

void unlink_bucket(source_limits* limits, int index)
{
    std::uint16_t* link = &limits->buckets[bucket_of(*limits, limits->entries[index].key)];
    while (*link != 0 && *link != index + 1) link = &limits->entries[*link - 1].chain;
    if (*link != 0) *link = limits->entries[index].chain;
}

int find(const source_limits& limits, const source_key& key)
{
    for (int at = limits.buckets[bucket_of(limits, key)]; at != 0; at = limits.entries[at - 1].chain)
        if (same_key(limits.entries[at - 1].key, key)) return at - 1;
    return -1;
}

// A free place, or the one used longest ago; -1 when every place holds open
// sessions. An entry with sessions open is out of the order of use, so the
// oldest in it can always give way.
int place_for_new(source_limits* limits)
{
    if (limits->used < source_table_size) return limits->used++;
    const int at = limits->oldest;
    if (at == 0) return -1;
    unlink_bucket(limits, at - 1);
    take_out_of_order(limits, at - 1);
    return at - 1;
}

// The source's entry, made for it where it has none, and marked as the
// newest; -1 when the table has no place. Under the lock.
int entry_of(source_limits* limits, const source_key& key, std::uint32_t now_ms)
{
    int index = find(*limits, key);
    if (index < 0) {
        index = place_for_new(limits);
        if (index < 0) return -1;
        entry& e = limits->entries[index];
        e = {};
        e.key = key;
        e.in_use = true;
        const std::uint32_t full = static_cast<std::uint32_t>(reply_burst(limits->replies_per_second)) * thousandths;
        for (int s = 0; s < source_services; ++s) {
            e.budget[s] = full;
            e.refilled_ms[s] = now_ms;
        }
        const int bucket = bucket_of(*limits, key);
        e.chain = limits->buckets[bucket];
        limits->buckets[bucket] = static_cast<std::uint16_t>(index + 1);
        put_first_in_order(limits, index);
    } else if (limits->entries[index].sessions_open == 0) {
        take_out_of_order(limits, index);
        put_first_in_order(limits, index);
    }
    limits->entries[index].last_ms = now_ms;
    return index;
}

// Takes one reply from a budget that grows by the rate (replies a second
// are thousandths a millisecond) up to the burst.
bool take_reply(const source_limits& limits, std::uint32_t* budget, std::uint32_t* refilled_ms, std::uint32_t now_ms)
{
    const std::uint32_t full = static_cast<std::uint32_t>(reply_burst(limits.replies_per_second)) * thousandths;
    // An unsigned difference is right across the wrap. Listeners read the
    // clock before they take the lock, so a reading may come in a little
    // older than the last: it grows nothing and leaves the time, rather than
    // passing for a wait of 49 days. (A bound half the wrap would instead
    // hold a source idle for 25 days to its empty budget for 25 more.)
    const std::uint32_t elapsed = now_ms - *refilled_ms;
    if (elapsed <= 0xFFFFFFFFu - most_late_reading_ms) {
        const std::uint64_t grown =
            *budget + std::uint64_t(elapsed) * static_cast<std::uint32_t>(limits.replies_per_second);
        *budget = grown < full ? static_cast<std::uint32_t>(grown) : full;
        *refilled_ms = now_ms;
    }
    if (*budget < thousandths) return false;
    *budget -= thousandths;
    return true;
}

source_verdict refusal(bool* said, source_verdict first = source_verdict::refused_first)
{
    if (*said) return source_verdict::refused;
    *said = true;
    return first;
}

} // namespace

bool source_of(const net_address* peer, source_key* key)
{
    std::memset(key, 0, sizeof *key);
    if (net_address_is_ipv6(peer)) {
        const unsigned char* a = peer->bytes + ipv6_at;
        if (std::memcmp(a, ipv6_loopback, sizeof ipv6_loopback) == 0) return false;
        if (std::memcmp(a, mapped_prefix, sizeof mapped_prefix) == 0) {
            std::memcpy(key->bytes, a, 16);
            return a[12] != 127;
        }
        // A NAT64 gateway's clients are the IPv4 hosts behind it, each
        // limited as itself; never loopback, which no gateway sends from.
        if (std::memcmp(a, nat64_prefix, sizeof nat64_prefix) == 0) {
            std::memcpy(key->bytes, mapped_prefix, sizeof mapped_prefix);
            std::memcpy(key->bytes + 12, a + 12, 4);
            return true;
        }
        // On a link every host shares the /64 (fe80::/10): a link-local
        // source is the whole address on its link.
        if (a[0] == 0xFE && (a[1] & 0xC0) == 0x80) {
            std::memcpy(key->bytes, a, 16);
            std::memcpy(key->scope, peer->bytes + scope_at, sizeof key->scope);
            return true;
        }
        std::memcpy(key->bytes, a, 8);
        return true;
    }
    std::memcpy(key->bytes, mapped_prefix, sizeof mapped_prefix);
    std::memcpy(key->bytes + 12, peer->bytes + ipv4_at, 4);
    return key->bytes[12] != 127;
}

int reply_burst(int replies_per_second) { return replies_per_second / 5 > 1 ? replies_per_second / 5 : 1; }

source_limits* source_limits_make(int replies_per_second, int sessions_per_source, bool* failed)
{
    *failed = false;
    if (replies_per_second <= 0 && sessions_per_source <= 0) return nullptr;
    auto* limits = new (std::nothrow) source_limits();
    if (limits != nullptr) limits->lock = thread_lock_create();
    if (limits == nullptr || limits->lock == nullptr) {
        delete limits;
        *failed = true;
        return nullptr;
    }
    limits->replies_per_second = replies_per_second > 0 ? replies_per_second : 0;
    limits->sessions_per_source = sessions_per_source > 0 ? sessions_per_source : 0;
    for (std::uint32_t& budget : limits->overflow_budget)
        budget = static_cast<std::uint32_t>(reply_burst(limits->replies_per_second)) * thousandths;
    secret_key_draw(limits->key);
    return limits;
}

source_verdict source_reply_allowed(source_limits* limits, const net_address* peer, int service,
                                    std::uint32_t now_ms)
{
    source_key key;
    if (limits == nullptr || limits->replies_per_second == 0 || service < 0 || service >= source_services ||
        !source_of(peer, &key))
        return source_verdict::allowed;
    thread_lock_take(limits->lock);
    source_verdict verdict = source_verdict::allowed;
    const int index = entry_of(limits, key, now_ms);
    if (index < 0) {
        // Every place holds a source with sessions open: the sources without
        // a place share one source's budget, so that spoofed sources can
        // neither get more replies than one source nor refuse all others.
        if (!take_reply(*limits, &limits->overflow_budget[service], &limits->overflow_refilled_ms[service], now_ms))
            verdict = refusal(&limits->said_full, source_verdict::full_first);
    } else {
        entry& e = limits->entries[index];
        if (!take_reply(*limits, &e.budget[service], &e.refilled_ms[service], now_ms))
            verdict = refusal(&e.said_replies);
    }
    thread_lock_release(limits->lock);
    return verdict;
}

source_verdict source_session_begin(source_limits* limits, const net_address* peer, std::uint32_t now_ms)
{
    source_key key;
    if (limits == nullptr || limits->sessions_per_source == 0 || !source_of(peer, &key))
        return source_verdict::allowed;
    thread_lock_take(limits->lock);
    source_verdict verdict = source_verdict::allowed;
    const int index = entry_of(limits, key, now_ms);
    if (index < 0) {
        verdict = refusal(&limits->said_full, source_verdict::full_first);
    } else {
        entry& e = limits->entries[index];
        if (e.sessions_open >= limits->sessions_per_source) verdict = refusal(&e.said_sessions);
        else if (e.sessions_open++ == 0) take_out_of_order(limits, index);
    }
    thread_lock_release(limits->lock);
    return verdict;
}

void source_session_end(source_limits* limits, const net_address* peer)
{
    source_key key;
    if (limits == nullptr || limits->sessions_per_source == 0 || !source_of(peer, &key)) return;
    thread_lock_take(limits->lock);
    const int index = find(*limits, key);
    // Back in the order of use, as the newest, once its last session ends.
    if (index >= 0 && limits->entries[index].sessions_open > 0 && --limits->entries[index].sessions_open == 0)
        put_first_in_order(limits, index);
    thread_lock_release(limits->lock);
}
