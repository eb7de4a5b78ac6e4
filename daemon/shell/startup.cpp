#include "startup.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "clock.h"
#include "command_line.h"
#include "message_box.h"
#include "module_path.h"
#include "output_lines.h"
#include "self_check.h"
#include "shown_text.h"
#include "sockets.h"

bool command_line_waits(const char* arguments)
{
    return arguments != nullptr && std::strstr(arguments, "WAIT") != nullptr;
}

namespace {

const char* transport_of(const listener_job& job) { return job.udp ? "UDP" : "TCP"; }

void start_listener(velmora_run* run, const service_row& row, const listen_address* local, bool udp)
{
    listener_reports* reports = run->reports.lock != nullptr && run->reports.told != nullptr ? &run->reports : nullptr;
    listener_job* job = &run->jobs[run->job_count++];
    *job = {&row, &run->options, local, reports, udp, listener_outcome::pending, 0};
    int error = 0;
    // The job is written before the thread starts, which publishes it.
    if (thread_start(udp ? run_udp_listener : run_tcp_listener, job, thread_default_stack, &error)) return;
    job->outcome = listener_outcome::no_thread;
    job->error = error;
    char text[128];
    std::snprintf(text, sizeof text, "Error Nr: %d\nThe %s %s listener (port %u) cannot start", error, row.name,
                  transport_of(*job), static_cast<unsigned>(row.port));
    message_box(text, "VESK - thread start failed");
}

// Every address of the host, for a run without --listen: one IPv6 socket
// per port that takes IPv4 peers too, or where the system has no IPv6 an
// IPv4 socket, as Winsock always has. So each service keeps one listener
// per transport: one bind box per port another program holds, one thread
// per listener. Measured against a socket per family over six interleaved
// benchmark runs, IPv4 clients cost about 5 % more server CPU per UDP echo
// and DNS answer and 8 % per daytime connection (medians of the per-run
// ratios), inside the run-to-run spread of the very same IPv4 code (0.74 to
// 1.21).
void listen_everywhere(run_options* options, bool ipv6)
{
    listen_address& every = options->listen[0];
    every.address = net_any_address(ipv6);
    std::snprintf(every.text, sizeof every.text, "%s", ipv6 ? "::" : "0.0.0.0");
    every.both_families = ipv6;
    options->listen_count = 1;
}

// An address given with --listen that the host does not hold, or cannot
// bind, is refused before any service starts: a socket bound to it with
// port 0 proves it.
bool chosen_addresses_bind(const run_options& options)
{
    for (int i = 0; i < options.listen_count; ++i) {
        const listen_address& chosen = options.listen[i];
        const net_socket probe = net_open_datagram_for(&chosen.address);
        const bool bound = probe != net_invalid_socket && net_bind_to(probe, &chosen.address, 0, false) == 0;
        const int error = net_last_error();
        if (probe != net_invalid_socket) net_close(probe);
        if (bound) continue;
        char text[128];
        std::snprintf(text, sizeof text, "--listen %s: this host cannot serve on that address (Socket Error Nr: %d)",
                      chosen.text, error);
        message_box(text, shell_caption);
        return false;
    }
    return true;
}

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

void start_selected_listeners(velmora_run* run)
{
    run->job_count = 0;
    for (int flag = 0; flag < service_count; ++flag) {
        if (run->selection.flags[flag] == 0) continue;
        const service_row& row = service_table[flag];
        const run_options& options = run->options;
        for (int i = 0; i < options.listen_count; ++i) start_listener(run, row, &options.listen[i], false);
        for (int i = 0; i < options.listen_count && row.udp_reply != nullptr; ++i)
            start_listener(run, row, &options.listen[i], true);
    }
}

int wait_for_listeners(velmora_run* run, unsigned timeout_ms)
{
    const std::uint32_t began = clock_tick_count();
    for (;;) {
        int untold = 0;
        for (int i = 0; i < run->job_count; ++i) {
            int error = 0;
            untold += listener_told(run->jobs[i], &error) == listener_outcome::pending;
        }
        const std::uint32_t waited = clock_tick_count() - began;
        if (untold == 0 || run->reports.told == nullptr || waited >= timeout_ms) return untold;
        thread_signal_wait_for(run->reports.told, timeout_ms - waited);
    }
}

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

void register_as_service(const ServiceSelection& selection, register_service_entry entry)
{
    if (selection.flags[selection_run_as_service_flag] == 0 || entry == nullptr) return;
    if (entry(0, rsp_simple_service) == 0) message_box("RegisterServiceProcess(KERNEL32.DLL) failed", shell_caption);
}

void unregister_as_service(register_service_entry entry)
{
    if (entry == nullptr) return;
    if (entry(0, rsp_unregister_service) == 0)
        message_box("(Un)RegisterServiceProcess(KERNEL32.DLL) failed", shell_caption);
}

bool start_services(const char* arguments, const startup_host& host, velmora_run* run, register_service_entry* entry)
{
    char error[160];
    if (!read_command_line(arguments, &run->options, error, sizeof error)) {
        message_box(error, shell_caption);
        return false;
    }
    host.pause(startup_pause_ms);
    char program[shown_text_size];
    module_path(program, module_path_limit);
    shown_text_store(program);
    if (!self_check_at_start()) return false;
    if (run->options.wait_for_ports) host.pause(restart_wait_ms);

    const int sockets_error = net_startup();
    if (sockets_error != 0) {
        host.show_sockets_error(sockets_error);
        return false;
    }
    if (run->options.listen_chosen) {
        if (!chosen_addresses_bind(run->options)) return false;
    } else {
        const bool ipv6 = net_ipv6_available();
        listen_everywhere(&run->options, ipv6);
        if (!ipv6 && host.note != nullptr) host.note("Velmora: this system has no IPv6: serving IPv4 only\n");
    }
    const char* settings_path = settings_file_path();
    shown_text_store(settings_path);
    const selection_file_kind settings = load_selection(&run->selection);
    *entry = find_register_service_process();
    register_as_service(run->selection, *entry);
    output_lines_start();
    run->reports = {thread_lock_create(), thread_signal_create()};
    start_selected_listeners(run);
    if (host.report != nullptr) {
        // The report tells what serves, so it waits for the listeners to
        // have tried their ports.
        wait_for_listeners(run, listeners_told_within_ms);
        char account[768];
        describe_listeners(*run, account, sizeof account);
        host.report(settings_path, settings, account);
    }
    return true;
}
