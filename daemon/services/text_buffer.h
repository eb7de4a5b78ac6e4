// The process-wide text buffer: start-up keeps the module path and builds the
// settings file's path here, the quote listener the quote file's path, and
// the port-53 TCP listener shows whatever it last held.
#pragma once

#include <cstddef>

inline constexpr std::size_t global_text_size = 300;
// Written directly only by start-up before any other thread exists; once
// threads run, every text goes in and out through the two copies below.
extern char global_text[global_text_size];

// Puts `text` into the buffer, cut to fit, as one step that no reader sees
// half done.
void global_text_store(const char* text);
// Copies what the buffer holds into `out` (at most `out_size` - 1 characters
// and a NUL), as one step.
void global_text_copy(char* out, std::size_t out_size);

// Writes into `out` the path `module_path` cut back to just after its last
// `separator`, followed by `file_name`; without a separator the name alone.
// The result is cut to fit `out_size`. Returns `out`.
char* build_sibling_path(const char* module_path, char separator, const char* file_name, char* out,
                         std::size_t out_size);
