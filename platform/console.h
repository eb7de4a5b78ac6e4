// The console programs' standard output.
#pragma once

#include <cstddef>

// Makes standard output pass every byte through unchanged: no line-end
// translation, nothing dropped or added. Call before the first output.
void console_binary_output();

// Writes the bytes to Velmora's standard output, where the run-time sends
// it, and returns when they are written or cannot be. A reader that went away
// or a closed output never ends the program.
void console_write_output(const char* text, std::size_t length);
// The same for standard error, with a NUL-terminated text.
void console_write_error(const char* text);
// The same for the run-time's file descriptor `descriptor` (a copy of a
// standard stream, a pipe): every byte, or as many as it takes.
void console_write_descriptor(int descriptor, const char* bytes, std::size_t length);
