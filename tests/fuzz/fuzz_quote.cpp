// The quote loader, fed quote files of any size and content. Whatever the
// file holds: at most 299 separators count, every slot keeps at most 512
// bytes and a NUL behind them, slots past the count stay empty, a slot is
// its stretch of the file with a CR behind every LF (cut at 512 bytes, NULs
// left out), and a draw r of 0 to 32767 always picks a slot from 0 to count.
#include <cstring>
#include <vector>

#include "quote.h"
#include "fuzz_check.h"

namespace {

// Every count the loader can produce against every draw, once.
bool check_every_pick()
{
    for (int count = 0; count <= quote_separator_limit; ++count) {
        int last = 0;
        for (int r = 0; r <= 32767; ++r) {
            const int slot = quote_pick(r, count);
            FUZZ_REQUIRE(slot >= 0 && slot <= count);
            FUZZ_REQUIRE(slot >= last);
            FUZZ_REQUIRE(r == 32767 || count == 0 || slot < count); // the last slot only for r = 32767
            last = slot;
        }
        FUZZ_REQUIRE(quote_pick(32767, count) == count);
    }
    return true;
}

// The file's stretches between separators, as far as the loader reads.
std::vector<std::vector<std::uint8_t>> stretches(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::vector<std::uint8_t>> parts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '%') {
            if (parts.size() == quote_separator_limit) break; // the 299th separator ends the loading
            parts.emplace_back();
        } else if (data[i] != 0) {
            parts.back().push_back(data[i]);
        }
    }
    return parts;
}

// A slot must read back as its stretch with the CRs taken out again.
void require_slot_holds(const unsigned char* text, int length, const std::vector<std::uint8_t>& stretch)
{
    int p = 0;
    std::size_t q = 0;
    while (p < length) {
        FUZZ_REQUIRE(q < stretch.size());
        FUZZ_REQUIRE(text[p] == stretch[q]);
        if (stretch[q] == '\n') {
            if (p + 1 == length) {
                FUZZ_REQUIRE(length == quote_slot_size - 1); // only a cut separates LF from its CR
                return;
            }
            FUZZ_REQUIRE(text[p + 1] == '\r');
            p += 2;
        } else {
            p += 1;
        }
        ++q;
    }
    FUZZ_REQUIRE(q == stretch.size() || length == quote_slot_size - 1);
}

quote_table table;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const bool picks_checked = check_every_pick();
    FUZZ_REQUIRE(picks_checked);

    std::vector<std::uint8_t> file(data, data + size);
    // Dirty the table first: the loader must start from an empty one.
    std::memset(&table, 0x5A, sizeof table);
    quote_load(&table, file.data(), file.size());

    std::size_t separators = 0;
    for (std::size_t i = 0; i < size; ++i) separators += data[i] == '%';
    const int expected_count =
        static_cast<int>(separators < quote_separator_limit ? separators : quote_separator_limit);
    FUZZ_REQUIRE(table.count == expected_count);

    const auto parts = stretches(data, size);
    for (int slot = 0; slot < quote_slots; ++slot) {
        const int length = table.length[slot];
        const unsigned char* text = table.text[slot];
        FUZZ_REQUIRE(length >= 0 && length <= quote_slot_size - 1);
        FUZZ_REQUIRE(std::strlen(reinterpret_cast<const char*>(text)) == static_cast<std::size_t>(length));
        static const unsigned char zeros[quote_slot_size] = {};
        FUZZ_REQUIRE(std::memcmp(text + length, zeros, static_cast<std::size_t>(quote_slot_size - length)) == 0);
        FUZZ_REQUIRE(std::memchr(text, '%', static_cast<std::size_t>(length)) == nullptr);
        if (slot > table.count) {
            FUZZ_REQUIRE(length == 0);
            continue;
        }
        const std::size_t index = static_cast<std::size_t>(slot);
        if (index < parts.size()) require_slot_holds(text, length, parts[index]);
        else FUZZ_REQUIRE(length == 0);
    }
    // Draws spread over the input: every one lands on a loaded slot.
    for (std::size_t i = 0; i + 1 < size && i < 64; i += 2) {
        const int r = (data[i] | data[i + 1] << 8) & 32767;
        const int slot = quote_pick(r, table.count);
        FUZZ_REQUIRE(slot >= 0 && slot <= table.count);
    }
    return 0;
}
