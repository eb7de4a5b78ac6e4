// The start-up steps that both platforms share.
#pragma once

#include <cstddef>
#include <cstdint>

#include "listener.h"
#include "run_options.h"
#include "service_table.h"
#include "settings_file.h"

// The one record of a run, built at start-up and read by everything after:
// the choice of services, the options, and the job that each listener
// thread is handed (its row and the options). It lives as long as the
// process.
struct velmora_run {
    ServiceSelection selection;
    run_options options;
    listener_job jobs[2 * service_count * listen_address_limit];
    int job_count; // the jobs started (or tried) for the selected services
    listener_reports reports; // lock and signal: nullptr where the system cannot make them
};

// "WAIT" anywhere in the arguments, case-sensitive, asks for the pause that
// lets an ending instance release its ports.
bool command_line_waits(const char* arguments);
inline constexpr unsigned restart_wait_ms = 5000;
inline constexpr unsigned startup_pause_ms = 300;

// Starts the listener threads of the services that `run` selects, in the
// fixed order, the TCP listener of a service before its UDP listener, each
// with its job in `run`. A listener thread that cannot be started is shown
// in a box that names it, and its job's outcome is no_thread.
void start_selected_listeners(velmora_run* run);

// Waits until every listener of `run` has told how its start went (bound
// and serving, or what stopped it), or until `timeout_ms` have passed.
// Returns how many have not told yet; the outcomes are in the jobs
// (listener_told). Where nobody can tell (no lock or signal), returns at
// once with the untold counted.
int wait_for_listeners(velmora_run* run, unsigned timeout_ms);
inline constexpr unsigned listeners_told_within_ms = 3000;

// Whether any listener of `run` has told that it serves.
bool any_listener_serving(const velmora_run& run);

// The start report's account of the selected services from their
// listeners' outcomes: "running echo, daytime (TCP only: UDP port 13 in
// use); not running: quote (no quote file)", or "nothing runs: echo (TCP
// port 7 in use), ..." when none serves; empty when none is selected.
void describe_listeners(const velmora_run& run, char* text, std::size_t size);

// RegisterServiceProcess: (process id, type) -> 0 on failure.
using register_service_entry = std::uint32_t (*)(std::uint32_t process_id, std::uint32_t type);
inline constexpr std::uint32_t rsp_simple_service = 1;
inline constexpr std::uint32_t rsp_unregister_service = 0;

// Looks up the registration entry, showing the start-up messages of a system
// that lacks it; nullptr when there is none.
register_service_entry find_register_service_process();

// Registers the process when the selection asks for it (start-up), or
// unregisters it (end), showing the shell's box when the call fails.
void register_as_service(const ServiceSelection& selection, register_service_entry entry);
void unregister_as_service(register_service_entry entry);

// The caption of the shell's own boxes.
inline constexpr const char* shell_caption = "Velmora V1.0";

// What start-up asks of the platform's face: a pause that keeps its start-up
// notice in view, and the box for a sockets interface that cannot start.
// Where there is no icon or dialog to show the state, `report` (may be
// nullptr) is told, once the listeners have tried to bind, which settings
// file was read, what it held, and the account of describe_listeners.
// `note` (may be nullptr) takes a line about how the host serves, such as
// the lack of IPv6, where no box is the right place for it.
struct startup_host {
    void (*pause)(unsigned milliseconds);
    void (*show_sockets_error)(int code);
    void (*report)(const char* settings_path, selection_file_kind kind, const char* account);
    void (*note)(const char* line);
};

// The start-up steps from the first pause to the running listeners: the
// command line, the executable check, the pause that "WAIT" asks for, the
// sockets interface, the listen addresses, the selection, the
// service-process registration and the listeners.
// Fills `run`, which must outlive every thread. Returns false when the
// program must end with status -1; `entry` receives the registration entry
// for the end sequence.
bool start_services(const char* arguments, const startup_host& host, velmora_run* run, register_service_entry* entry);
