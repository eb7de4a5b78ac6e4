// Chargen: its byte formats, free of sockets.
#pragma once

#include <cstddef>
#include <cstdint>

// The ring of 94 printable characters (no backslash, the space last),
// TCP lines of 72 characters and CR LF, and the UDP reply.
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
