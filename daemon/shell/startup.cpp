#include "startup.h"

#include <cstdio>
#include <cstring>

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

bool start_listener(thread_entry listener, listener_job* job, const char* transport)
{
    const service_row& row = *job->service;
    int error = 0;
    if (thread_start(listener, job, thread_default_stack, &error)) return true;
    char text[128];
    std::snprintf(text, sizeof text, "Error Nr: %d\nThe %s %s listener (port %u) cannot start", error, row.name,
                  transport, static_cast<unsigned>(row.port));
    message_box(text, "VESK - thread start failed");
    return false;
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

void append_name(char* list, std::size_t size, const char* name)
{
    const std::size_t used = std::strlen(list);
    std::snprintf(list + used, size - used, "%s%s", used > 0 ? ", " : "", name);
}

} // namespace

void start_selected_listeners(velmora_run* run, char* started, std::size_t started_size)
{
    if (started_size > 0) started[0] = '\0';
    listener_job* job = run->jobs;
    const run_options& options = run->options;
    for (const service_row& row : service_table) {
        if (selection_flag(run->selection, row.selection_flag) == 0) continue;
        bool running = true;
        for (int i = 0; i < options.listen_count; ++i) {
            *job = {&row, &options, &options.listen[i]};
            running = start_listener(run_tcp_listener, job++, "TCP") && running;
        }
        for (int i = 0; i < options.listen_count && row.udp_reply != nullptr; ++i) {
            *job = {&row, &options, &options.listen[i]};
            running = start_listener(run_udp_listener, job++, "UDP") && running;
        }
        if (running && started_size > 0) append_name(started, started_size, row.name);
    }
}

void register_as_service(const ServiceSelection& selection, register_service_entry entry)
{
    if (selection.run_as_service == 0 || entry == nullptr) return;
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
    if (!self_check_passes()) return false;
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
    char started[128];
    start_selected_listeners(run, started, sizeof started);
    if (host.report != nullptr) host.report(settings_path, settings, started);
    return true;
}
