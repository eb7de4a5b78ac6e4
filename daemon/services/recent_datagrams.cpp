#include "recent_datagrams.h"

#include <new>

#include "keyed_digest.h"
#include "secret_key.h"

namespace {

static_assert((recent_capacity & (recent_capacity - 1)) == 0, "buckets are picked by a mask");
static_assert(recent_capacity < 65536, "entries are named in 16 bits");

std::uint64_t digest_of(const recent_datagrams& table, const net_address* sender, const unsigned char* bytes,
                        int count)
{
    const int address_length = sender->length > 0 && sender->length <= static_cast<int>(sizeof sender->bytes)
                                    ? sender->length
                                    : static_cast<int>(sizeof sender->bytes);
    keyed_digest d;
    keyed_digest_start(&d, table.key);
    const unsigned char length_byte = static_cast<unsigned char>(address_length);
    keyed_digest_add(&d, &length_byte, 1);
    keyed_digest_add(&d, sender->bytes, address_length);
    keyed_digest_add(&d, bytes, count);
    return keyed_digest_end(&d);
}

int bucket_of(std::uint64_t digest) { return static_cast<int>(digest >> 40) & (recent_capacity - 1); }

// Takes the entry at `index` out of its bucket's chain.
void unlink(recent_datagrams* table, int index)
{
    std::uint16_t* link = &table->buckets[bucket_of(table->entries[index].digest)];
    while (*link != 0 && *link != index + 1) link = &table->entries[*link - 1].chain;
    if (*link != 0) *link = table->entries[index].chain;
}

} // namespace

std::unique_ptr<recent_datagrams> recent_datagrams_make()
{
    std::unique_ptr<recent_datagrams> table(new (std::nothrow) recent_datagrams());
    if (table != nullptr) secret_key_draw(table->key);
    return table;
}

bool recent_datagrams_admit(recent_datagrams* table, const net_address* sender, const unsigned char* bytes, int count,
                            std::uint32_t now_ms)
{
    const std::uint64_t digest = digest_of(*table, sender, bytes, count);
    for (int at = table->buckets[bucket_of(digest)]; at != 0; at = table->entries[at - 1].chain) {
        recent_datagrams::entry& e = table->entries[at - 1];
        if (e.digest != digest) continue;
        // Unsigned difference: right across the tick count's wrap. A repeat
        // is not remembered as an answer: the sender is answered again a
        // second after the last answer, however often it asked meanwhile.
        if (now_ms - e.seen_ms < recent_window_ms) return false;
        unlink(table, at - 1);
        e.in_use = 0;
        break;
    }
    const int index = table->next;
    table->next = (index + 1) % recent_capacity;
    recent_datagrams::entry& e = table->entries[index];
    if (e.in_use != 0) unlink(table, index);
    const int bucket = bucket_of(digest);
    e = {digest, now_ms, table->buckets[bucket], 1};
    table->buckets[bucket] = static_cast<std::uint16_t>(index + 1);
    return true;
}
