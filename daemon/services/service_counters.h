// What each service has done since start: counted by the listener and
// session threads as they go, read on demand (SIGUSR1, the service
// manager's status, the Win32 face's icon).
#pragma once

#include <atomic>
#include <cstddef>

// One service's counters, on a cache line of their own so that listeners of
// different services never contend for one. Counts wrap at the width of
// unsigned long.
struct alignas(64) service_counters {
    std::atomic<unsigned long> sessions_started{0};
    std::atomic<unsigned long> sessions_ended{0};
    std::atomic<unsigned long> datagrams_answered{0};
    std::atomic<unsigned long> refused_by_limit{0};
    std::atomic<unsigned long> refused_as_reflection{0};
};

inline void count_one(std::atomic<unsigned long>* counter) { counter->fetch_add(1, std::memory_order_relaxed); }

// The counters as read at one moment.
struct counters_reading {
    unsigned long sessions;
    unsigned long open;
    unsigned long answered;
    unsigned long limited;
    unsigned long reflections;
};
counters_reading counters_read(const service_counters& counters);
// Adds `b` to `a`, for the totals over every service.
void counters_add(counters_reading* a, const counters_reading& b);

// "daytime: 3 sessions, 0 open, 2 datagrams answered, 0 refused by a limit,
// 0 refused as a reflection".
void format_counters_line(char* text, std::size_t size, const char* service, const counters_reading& r);
// The short form, for a status line: "3 sessions (0 open), 2 answered, 0
// refused, 0 reflections, 0 lines dropped".
void format_counters_summary(char* text, std::size_t size, const counters_reading& total, unsigned long dropped);
