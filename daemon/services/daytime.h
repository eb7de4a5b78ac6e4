// Daytime: its byte format, free of sockets and clocks, so that the text
// on the wire can be checked without a network.
#pragma once

#include <cstddef>
#include <cstdint>

#include "clock.h"

// The 25-byte asctime layout with English names, e.g.
// "Sun Dec  6 04:45:17 2026\n". Returns the length written (25).
inline constexpr int daytime_text_size = 25;
int format_daytime(const calendar_time& when, char out[daytime_text_size]);
