#include "service_counters.h"

#include <cstdio>

counters_reading counters_read(const service_counters& c)
{
    const auto read = [](const std::atomic<unsigned long>& n) { return n.load(std::memory_order_relaxed); };
    // Ended first: a session that ends between the two reads is then counted
    // open rather than as less than none.
    const unsigned long ended = read(c.sessions_ended);
    const unsigned long started = read(c.sessions_started);
    return {started, started - ended, read(c.datagrams_answered), read(c.refused_by_limit),
            read(c.refused_as_reflection)};
}

void counters_add(counters_reading* a, const counters_reading& b)
{
    a->sessions += b.sessions;
    a->open += b.open;
    a->answered += b.answered;
    a->limited += b.limited;
    a->reflections += b.reflections;
}

void format_counters_line(char* text, std::size_t size, const char* service, const counters_reading& r)
{
    std::snprintf(text, size,
                  "%s: %lu sessions, %lu open, %lu datagrams answered, %lu refused by a limit, %lu refused as a "
                  "reflection",
                  service, r.sessions, r.open, r.answered, r.limited, r.reflections);
}

void format_counters_summary(char* text, std::size_t size, const counters_reading& total, unsigned long dropped)
{
    std::snprintf(text, size,
                  "%lu sessions (%lu open), %lu answered, %lu refused (%lu as reflections), %lu lines dropped",
                  total.sessions, total.open, total.answered, total.limited + total.reflections, total.reflections,
                  dropped);
}
