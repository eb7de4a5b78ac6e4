#include "start_report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {

const char* transport_of(const listener_job& job) { return job.udp ? "UDP" : "TCP"; }

// Appends to `text` as snprintf would, never past its end.
[[gnu::format(printf, 3, 4)]] void append(char* text, std::size_t size, const char* format, ...)
{
    const std::size_t used = std::strlen(text);
    if (used + 1 >= size) return;
    va_list values;
    va_start(values, format);
    std::vsnprintf(text + used, size - used, format, values);
    va_end(values);
}

// What stopped one listener, in the report's words.
void append_reason(char* text, std::size_t size, const listener_job& job, listener_outcome outcome, int error)
{
    const char* transport = transport_of(job);
    const unsigned port = job.service->port;
    switch (outcome) {
    case listener_outcome::pending: append(text, size, "%s port %u not bound yet", transport, port); break;
    case listener_outcome::serving: break;
    case listener_outcome::no_thread:
        append(text, size, "the %s listener cannot start, Error Nr: %d", transport, error);
        break;
    case listener_outcome::no_socket: append(text, size, "no %s socket, Socket Error Nr: %d", transport, error); break;
    case listener_outcome::port_in_use: append(text, size, "%s port %u in use", transport, port); break;
    case listener_outcome::port_denied: append(text, size, "no permission for %s port %u", transport, port); break;
    case listener_outcome::bind_failed:
        append(text, size, "%s port %u cannot be bound, Socket Error Nr: %d", transport, port, error);
        break;
    case listener_outcome::listen_failed:
        append(text, size, "%s port %u cannot listen, Socket Error Nr: %d", transport, port, error);
        break;
    case listener_outcome::no_file: append(text, size, "no %s file", job.service->name); break;
    }
}

// Appends "name" for a service whose listeners all serve, "name (TCP only:
// reason)" for one that serves in part, "name (reason, reason)" for one that
// does not serve; `serving` chooses which services are listed.
void append_services(char* text, std::size_t size, const velmora_run& run, bool serving, bool* first)
{
    for (int i = 0; i < run.job_count;) {
        const service_row* row = run.jobs[i].service;
        int end = i;
        int serve = 0;
        while (end < run.job_count && run.jobs[end].service == row) {
            int error = 0;
            serve += listener_told(run.jobs[end], &error) == listener_outcome::serving;
            ++end;
        }
        if ((serve > 0) == serving) {
            append(text, size, "%s%s", *first ? "" : ", ", row->name);
            *first = false;
            if (serve < end - i) {
                append(text, size, " (");
                if (serve > 0) {
                    for (int j = i; j < end; ++j) {
                        int error = 0;
                        if (listener_told(run.jobs[j], &error) == listener_outcome::serving)
                            append(text, size, "%s only: ", transport_of(run.jobs[j]));
                    }
                }
                bool first_reason = true;
                for (int j = i; j < end; ++j) {
                    int error = 0;
                    const listener_outcome outcome = listener_told(run.jobs[j], &error);
                    if (outcome == listener_outcome::serving) continue;
                    if (!first_reason) append(text, size, ", ");
                    append_reason(text, size, run.jobs[j], outcome, error);
                    first_reason = false;
                }
                append(text, size, ")");
            }
        }
        i = end;
    }
}

} // namespace

bool any_listener_serving(const velmora_run& run)
{
    for (int i = 0; i < run.job_count; ++i) {
        int error = 0;
        if (listener_told(run.jobs[i], &error) == listener_outcome::serving) return true;
    }
    return false;
}

void describe_listeners(const velmora_run& run, char* text, std::size_t size)
{
    if (size == 0) return;
    text[0] = '\0';
    if (run.job_count == 0) return;
    bool first = true;
    if (any_listener_serving(run)) {
        append(text, size, "running ");
        append_services(text, size, run, true, &first);
        first = true;
        const std::size_t before = std::strlen(text);
        append(text, size, "; not running: ");
        const std::size_t heading = std::strlen(text);
        append_services(text, size, run, false, &first);
        if (std::strlen(text) == heading) text[before] = '\0'; // every service serves
    } else {
        append(text, size, "nothing runs: ");
        append_services(text, size, run, false, &first);
    }
}
