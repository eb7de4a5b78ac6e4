// The system clock: calendar seconds, local calendar time, the tick count,
// and pauses.
#pragma once

#include <cstdint>

// A broken-down local calendar time, as localtime gives it.
struct calendar_time {
    int year;        // full year, e.g. 2026
    int month;       // 0 to 11
    int day;         // 1 to 31
    int hour;        // 0 to 23
    int minute;      // 0 to 59
    int second;      // 0 to 60
    int weekday;     // 0 (Sunday) to 6
};

// Whole seconds since 1970-01-01 00:00 UTC, rounded to the nearest second.
std::int64_t clock_seconds_now();

// Converts seconds since 1970 to local calendar time; safe on many threads
// at once. Returns false when the system cannot convert the value. Windows
// applies the time-zone offset in force now, so only the current time is
// converted exactly across a daylight-saving change.
bool clock_local_time(std::int64_t seconds, calendar_time* out);

// Milliseconds since the system started, modulo 2^32 (GetTickCount).
std::uint32_t clock_tick_count();

void clock_sleep_ms(unsigned milliseconds);
