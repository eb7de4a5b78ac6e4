// The start-up steps that both platforms share.
#pragma once

#include "service_process.h"
#include "settings_file.h"
#include "velmora_run.h"

// The pause that "WAIT" asks for, which lets an ending instance release its
// ports, and the first pause, which keeps the start-up notice in view.
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

// Reads the command line into `run`'s options, before the program says or
// starts anything: a refused option is shown in the shell's box and false
// returned (the program ends with status -1); the words it ignores are
// named to `host.note`.
bool read_start_options(const char* arguments, const startup_host& host, velmora_run* run);

// The start-up steps from the first pause to the running listeners, once
// the options are read: the executable check, the pause that "WAIT" asks
// for, the sockets interface, the listen addresses, the selection, the
// service-process registration and the listeners.
// Fills `run`, which must outlive every thread. Returns false when the
// program must end with status -1; `entry` receives the registration entry
// for the end sequence.
bool start_services(const startup_host& host, velmora_run* run, register_service_entry* entry);
