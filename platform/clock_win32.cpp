#include "clock.h"

#include <windows.h>

namespace {

// FILETIME counts 100-nanosecond units since 1601-01-01 UTC.
constexpr std::int64_t ticks_per_second = 10000000;
constexpr std::int64_t seconds_1601_to_1970 = 11644473600;
// FileTimeToSystemTime takes values below 2^63 only.
constexpr std::int64_t last_convertible_second = INT64_MAX / ticks_per_second - seconds_1601_to_1970;

} // namespace

std::int64_t clock_seconds_now()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (std::uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const std::uint64_t since_1970 = ticks - std::uint64_t(seconds_1601_to_1970 * ticks_per_second);
    return static_cast<std::int64_t>((since_1970 + ticks_per_second / 2) / ticks_per_second);
}

// The conversion goes through FILETIME with the calls Windows 95 has: its
// C run-time knows only a 32-bit time_t, which ends in January 2038, and the
// 64-bit localtime came with later systems (a program importing it does not
// load on Windows 95 or 98). FILETIME runs to the year 30827. The system
// applies the time-zone offset in force now, daylight saving included,
// which is exact for the current time, the only one converted.
bool clock_local_time(std::int64_t seconds, calendar_time* out)
{
    if (seconds < -seconds_1601_to_1970 || seconds > last_convertible_second) return false;
    const std::uint64_t ticks = std::uint64_t(seconds + seconds_1601_to_1970) * ticks_per_second;
    FILETIME universal;
    universal.dwLowDateTime = static_cast<DWORD>(ticks);
    universal.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    FILETIME local;
    SYSTEMTIME parts;
    if (!FileTimeToLocalFileTime(&universal, &local) || !FileTimeToSystemTime(&local, &parts)) return false;
    *out = calendar_time{parts.wYear, parts.wMonth - 1, parts.wDay, parts.wHour, parts.wMinute, parts.wSecond,
                         parts.wDayOfWeek};
    return true;
}

std::uint32_t clock_tick_count() { return GetTickCount(); }

void clock_sleep_ms(unsigned milliseconds) { Sleep(milliseconds); }
