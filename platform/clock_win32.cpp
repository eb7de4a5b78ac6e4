#include "clock.h"

#include <windows.h>
#include <ctime>

std::int64_t clock_seconds_now()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    // 100-nanosecond units since 1601-01-01.
    const std::uint64_t ticks = (std::uint64_t(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const std::uint64_t since_1970 = ticks - 116444736000000000ULL;
    return static_cast<std::int64_t>((since_1970 + 5000000u) / 10000000u);
}

bool clock_local_time(std::int64_t seconds, calendar_time* out)
{
    const __time64_t t = seconds;
    std::tm tm{};
    if (_localtime64_s(&tm, &t) != 0) return false;
    *out = calendar_time{tm.tm_year + 1900, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_wday};
    return true;
}

std::uint32_t clock_tick_count() { return GetTickCount(); }

void clock_sleep_ms(unsigned milliseconds) { Sleep(milliseconds); }
