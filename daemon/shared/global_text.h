// The process-wide text buffer, shared by the shell and the services:
// start-up keeps the module path and builds the settings file's path here,
// the quote listener the quote file's path, and the port-53 TCP listener
// shows whatever it last held.
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
