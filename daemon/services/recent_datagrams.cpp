#include "recent_datagrams.h"

#include <cstring>

namespace {

// FNV-1a over the sender's address and the bytes: a few nanoseconds per
// byte, spread well enough that distinct queries from one socket (which
// differ at least in their ID) seldom share a slot, and a false repeat
// needs all 32 bits to agree.
std::uint32_t fnv1a(std::uint32_t hash, const unsigned char* bytes, int count)
{
    for (int i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 16777619u;
    return hash;
}

} // namespace

void recent_datagrams_clear(recent_datagrams* table) { std::memset(table->slots, 0, sizeof table->slots); }

bool recent_datagrams_admit(recent_datagrams* table, const net_address* sender, const unsigned char* bytes, int count,
                            std::uint32_t now_ms)
{
    const int address_length = sender->length > 0 && sender->length <= static_cast<int>(sizeof sender->bytes)
                                    ? sender->length
                                    : static_cast<int>(sizeof sender->bytes);
    std::uint32_t key = fnv1a(2166136261u, sender->bytes, address_length);
    key = fnv1a(key, bytes, count);
    if (key == 0) key = 1; // 0 marks an empty slot
    recent_datagrams::slot& s = table->slots[key % recent_slots];
    // Unsigned difference: right across the tick count's wrap. A repeat is
    // not remembered as an answer: the sender is answered again a second
    // after the last answer, however often it asked meanwhile.
    if (s.key == key && now_ms - s.seen_ms < recent_window_ms) return false;
    s.key = key;
    s.seen_ms = now_ms;
    return true;
}
