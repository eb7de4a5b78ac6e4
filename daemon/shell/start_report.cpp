#include "start_report.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "files.h"

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

// Where a listener failed, for its reason: "port 7" where every listener
// has the one address, "127.0.0.1:7" or "[::1]:7" where there are several.
void where_of(const listener_job& job, char* where, std::size_t size)
{
    const unsigned port = job.service->port;
    const char* address = job.local->text;
    if (job.options->listen_count <= 1) std::snprintf(where, size, "port %u", port);
    else if (std::strchr(address, ':') != nullptr) std::snprintf(where, size, "[%s]:%u", address, port);
    else std::snprintf(where, size, "%s:%u", address, port);
}

// Why a service's file could not be read: missing, not a file, or there
// but not to be opened now (the system's words where it has them).
void append_file_reason(char* text, std::size_t size, const char* service, int error)
{
    if (file_error_is_missing(error)) {
        append(text, size, "no %s file", service);
        return;
    }
    if (error == service_file_not_plain) {
        append(text, size, "the %s file is not a plain file", service);
        return;
    }
    char words[128];
    file_error_words(error, words, sizeof words);
    const char* colon = words[0] != '\0' ? ": " : "";
    append(text, size, "cannot open the %s file%s%s, Error Nr: %d", service, colon, words, error);
}

// What stopped one listener, in the report's words.
void append_reason(char* text, std::size_t size, const listener_job& job, listener_outcome outcome, int error)
{
    const char* transport = transport_of(job);
    char where[sizeof job.local->text + 16];
    where_of(job, where, sizeof where);
    switch (outcome) {
    case listener_outcome::pending: append(text, size, "%s %s not bound yet", transport, where); break;
    case listener_outcome::serving: break;
    case listener_outcome::no_thread:
        append(text, size, "the %s %s listener cannot start, Error Nr: %d", transport, where, error);
        break;
    case listener_outcome::no_socket:
        append(text, size, "no %s socket for %s, Socket Error Nr: %d", transport, where, error);
        break;
    case listener_outcome::port_in_use: append(text, size, "%s %s in use", transport, where); break;
    case listener_outcome::port_denied: append(text, size, "no permission for %s %s", transport, where); break;
    case listener_outcome::bind_failed:
        append(text, size, "%s %s cannot be bound, Socket Error Nr: %d", transport, where, error);
        break;
    case listener_outcome::listen_failed:
        append(text, size, "%s %s cannot listen, Socket Error Nr: %d", transport, where, error);
        break;
    case listener_outcome::no_file: append_file_reason(text, size, job.service->name, error); break;
    }
}

// The listeners of one service: the jobs from `first` up to `end`.
struct service_jobs {
    int first;
    int end;
    bool tcp_serves; // on any address
    bool udp_serves;
    bool any_failed;
};

service_jobs jobs_of_service(const velmora_run& run, int first)
{
    service_jobs jobs{first, first, false, false, false};
    for (; jobs.end < run.job_count && run.jobs[jobs.end].service == run.jobs[first].service; ++jobs.end) {
        int error = 0;
        if (listener_told(run.jobs[jobs.end], &error) != listener_outcome::serving) jobs.any_failed = true;
        else (run.jobs[jobs.end].udp ? jobs.udp_serves : jobs.tcp_serves) = true;
    }
    return jobs;
}

// Appends " (TCP only: reason, reason)" for a service that serves on one
// transport only, " (reason, ...)" for one with other failures; each
// failed listener once, the missing file once for all of them.
void append_failures(char* text, std::size_t size, const velmora_run& run, const service_jobs& jobs)
{
    // Only a service with both transports can serve on one of them only.
    const bool partly = run.jobs[jobs.first].service->udp_reply != nullptr && jobs.tcp_serves != jobs.udp_serves;
    bool opened = false;
    bool file_told = false;
    for (int j = jobs.first; j < jobs.end; ++j) {
        int error = 0;
        const listener_outcome outcome = listener_told(run.jobs[j], &error);
        if (outcome == listener_outcome::serving || (outcome == listener_outcome::no_file && file_told)) continue;
        file_told = file_told || outcome == listener_outcome::no_file;
        if (!opened) append(text, size, " (%s", partly ? (jobs.tcp_serves ? "TCP only: " : "UDP only: ") : "");
        else append(text, size, ", ");
        opened = true;
        append_reason(text, size, run.jobs[j], outcome, error);
    }
    if (opened) append(text, size, ")");
}

// Appends the services that serve (`serving`) or those that do not, each
// by name and what failed; `first` tells whether one was listed before.
void append_services(char* text, std::size_t size, const velmora_run& run, bool serving, bool* first)
{
    for (int i = 0; i < run.job_count;) {
        const service_jobs jobs = jobs_of_service(run, i);
        if ((jobs.tcp_serves || jobs.udp_serves) == serving) {
            append(text, size, "%s%s", *first ? "" : ", ", run.jobs[i].service->name);
            *first = false;
            append_failures(text, size, run, jobs);
        }
        i = jobs.end;
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
    // An account cut short says so.
    if (size > 4 && std::strlen(text) == size - 1) std::memcpy(text + size - 4, "...", 4);
}

void note_failed_services(const velmora_run& run, char* text, std::size_t size)
{
    if (size == 0) return;
    text[0] = '\0';
    for (const bool in_part : {false, true}) {
        bool first = true;
        for (int i = 0; i < run.job_count;) {
            const service_jobs jobs = jobs_of_service(run, i);
            const bool serves = jobs.tcp_serves || jobs.udp_serves;
            if (jobs.any_failed && serves == in_part) {
                append(text, size, "%s%s", first ? (in_part ? "; in part: " : "; not running: ") : ", ",
                       run.jobs[i].service->name);
                first = false;
            }
            i = jobs.end;
        }
    }
}
