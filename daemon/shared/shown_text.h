// The one text that the port-53 TCP listener shows in its "TCP" box before
// each session: whatever was stored last, by start-up (the program's path),
// the settings routines (the settings file's path), the quote listener (the
// quote file's path) or a listener (the text of its error box).
#pragma once

#include <cstddef>

// Room for a program path of 254 characters with a file name appended.
inline constexpr std::size_t shown_text_size = 300;

// Keeps `text`, cut to fit, as one step that no reader sees half done.
void shown_text_store(const char* text);
// Copies what is kept into `out` (at most `out_size` - 1 characters and a
// NUL), as one step; an empty text before anything was stored.
void shown_text_copy(char* out, std::size_t out_size);
