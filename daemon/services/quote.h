// Quote of the day: the quote table and how a quote is picked, free of
// sockets and files.
#pragma once

#include <cstddef>
#include <cstdint>

// 300 slots of 512 bytes and a NUL.
inline constexpr int quote_slots = 300;
inline constexpr int quote_slot_size = 513;
inline constexpr int quote_separator_limit = 299;
struct quote_table {
    unsigned char text[quote_slots][quote_slot_size];
    int length[quote_slots];
    int count; // separators seen, at most 299
};
// Starts an empty table.
void quote_begin(quote_table* table);
// Loads one byte of the file; returns false once nothing more is taken.
bool quote_feed(quote_table* table, unsigned char byte);
// Loads a whole file image.
void quote_load(quote_table* table, const unsigned char* data, std::size_t size);
// The slot for a draw r: (r x count) / 32767, unsigned 32-bit arithmetic.
int quote_pick(int r, int count);
