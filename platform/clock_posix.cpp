#include "clock.h"

#include <ctime>

std::int64_t clock_seconds_now()
{
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::int64_t>(now.tv_sec) + (now.tv_nsec >= 500000000L ? 1 : 0);
}

bool clock_local_time(std::int64_t seconds, calendar_time* out)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (::localtime_r(&t, &tm) == nullptr) return false;
    *out = calendar_time{tm.tm_year + 1900, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_wday};
    return true;
}

std::uint32_t clock_tick_count()
{
    timespec since_boot{};
    ::clock_gettime(CLOCK_BOOTTIME, &since_boot);
    const std::uint64_t ms = static_cast<std::uint64_t>(since_boot.tv_sec) * 1000u +
                             static_cast<std::uint64_t>(since_boot.tv_nsec) / 1000000u;
    return static_cast<std::uint32_t>(ms);
}

void clock_sleep_ms(unsigned milliseconds)
{
    timespec delay{static_cast<std::time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
    while (::nanosleep(&delay, &delay) != 0) {
    }
}
