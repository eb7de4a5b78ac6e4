// The services' byte formats as pure functions, free of sockets and clocks,
// so that every byte on the wire can be checked without a network.
#pragma once

#include <cstddef>
#include <cstdint>

#include "clock.h"

// The ISO C example generator: one seed per thread.
void random_seed(std::uint32_t seed);
int random_next(); // 0 to 32767
// The same generator on an explicit seed, for callers that keep their own.
int random_next(std::uint32_t* seed);

// Daytime: the 25-byte asctime layout with English names, e.g.
// "Sun Dec  6 04:45:17 2026\n". Returns the length written (25).
inline constexpr int daytime_text_size = 25;
int format_daytime(const calendar_time& when, char out[daytime_text_size]);

// Time: seconds since 1900 modulo 2^32, as the 4 bytes sent, most
// significant first.
std::uint32_t time_value(std::int64_t unix_seconds);
void time_bytes(std::int64_t unix_seconds, unsigned char out[4]);

// Chargen: the ring of 94 printable characters (no backslash, the space
// last), TCP lines of 72 characters and CR LF, and the UDP reply.
inline constexpr int chargen_ring_size = 94;
inline constexpr int chargen_line_size = 74;
inline constexpr int chargen_udp_buffer = 512;
extern const unsigned char chargen_ring[chargen_ring_size];
// Line counter after `counter`: (counter + 1) mod 95.
int chargen_next_counter(int counter);
// Fills positions 0..71 of the line for the given counter; 72/73 are CR LF.
void chargen_fill_line(int counter, unsigned char line[chargen_line_size]);
// The UDP reply: byte i is ring position (i mod 94); the length for a draw r.
void chargen_fill_udp(unsigned char out[chargen_udp_buffer]);
int chargen_udp_length(int r);

// Quote of the day: 300 slots of 512 bytes and a NUL.
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

// DNS probe: turns the query of `count` bytes in `buffer` (room for
// count + 17) into the answer; returns the answer's length, or 0 for a
// datagram without a full header.
inline constexpr int dns_header_size = 12;
inline constexpr int dns_record_size = 17;
int dns_build_answer(unsigned char* buffer, int count);
// Whether a datagram from `source_port` may be a resolver's query. The small
// services (7, 9, 13, 17, 19, 37) and every other port below 1024 but 53
// never are: answering them would let a forged datagram start an endless
// exchange with a responder that answers from its own port.
bool dns_query_source_port(std::uint16_t source_port);

// Telnet refusal: the option parser, one byte at a time.
enum class telnet_state { data, command, will_option, do_option, refuse_option };
struct telnet_session_state {
    telnet_state state = telnet_state::data;
    bool echo_on = false;
};
struct telnet_output {
    unsigned char bytes[3];
    int count; // 0: nothing; 1: an echoed byte; 3: an answer IAC verb option
};
telnet_output telnet_parse(telnet_session_state* session, unsigned char byte);
