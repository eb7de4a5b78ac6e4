#include "startup.h"

#include <cstdio>
#include <string>

#include "clock.h"
#include "command_line.h"
#include "message_box.h"
#include "module_path.h"
#include "output_lines.h"
#include "self_check.h"
#include "shell_caption.h"
#include "shown_text.h"
#include "sockets.h"
#include "start_report.h"

namespace {

void start_listener(velmora_run* run, const service_row& row, const listen_address* local, bool udp)
{
    listener_reports* reports = run->reports.lock != nullptr && run->reports.told != nullptr ? &run->reports : nullptr;
    listener_job* job = &run->jobs[run->job_count++];
    *job = {&row, &run->options, local, reports, udp, listener_outcome::pending, 0, &run->state};
    int error = 0;
    // The job is written before the thread starts, which publishes it.
    if (thread_start(udp ? run_udp_listener : run_tcp_listener, job, thread_default_stack, &error)) return;
    job->outcome = listener_outcome::no_thread;
    job->error = error;
    char text[128];
    std::snprintf(text, sizeof text, "Error Nr: %d\nThe %s %s listener (port %u) cannot start", error, row.name,
                  udp ? "UDP" : "TCP", static_cast<unsigned>(row.port));
    message_box(text, "VESK - thread start failed");
}

// Every address of the host, for a run without --listen: one IPv6 socket
// per port that takes IPv4 peers too, or where the system has no IPv6 an
// IPv4 socket, as Winsock always has. So each service keeps one listener
// per transport: one bind box per port another program holds, one thread
// per listener. What IPv4 clients pay for the mapped form was measured
// within the benchmark's own spread (bench/RESULTS.md, figures behind
// choices in the code).
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
        char text[sizeof chosen.text + 96];
        std::snprintf(text, sizeof text, "--listen %s: this host cannot serve on that address (Socket Error Nr: %d)",
                      chosen.text, error);
        message_box(text, shell_caption);
        return false;
    }
    return true;
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

bool read_start_options(const char* arguments, const startup_host& host, velmora_run* run)
{
    char error[160];
    std::string ignored;
    if (!read_command_line(arguments, &run->options, &ignored, error, sizeof error)) {
        message_box(error, shell_caption);
        return false;
    }
    if (!ignored.empty() && host.note != nullptr) {
        std::string line = "Velmora: ignored ";
        line += ignored;
        line += ": only WAIT and the options that begin with -- are read\n";
        host.note(line.c_str());
    }
    return true;
}

bool start_services(const startup_host& host, velmora_run* run, register_service_entry* entry)
{
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
    bool no_table = false;
    run->state.limits = source_limits_make(run->options.replies_per_source, run->options.sessions_per_source, &no_table);
    run->state.log_clients = run->options.log_clients;
    if (no_table) {
        message_box("No memory for the table of per-source limits", shell_caption);
        return false;
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
        char account[start_report_size];
        describe_listeners(*run, account, sizeof account);
        host.report(settings_path, settings, account);
    }
    return true;
}
