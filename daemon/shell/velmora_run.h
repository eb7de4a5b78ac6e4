// The one record of a run, built at start-up and read by everything after.
#pragma once

#include "listener.h"
#include "run_options.h"
#include "run_state.h"
#include "service_table.h"
#include "settings_file.h"

// The choice of services, the options, and the job that each listener
// thread is handed (its row and the options). It lives as long as the
// process.
struct velmora_run {
    ServiceSelection selection;
    run_options options;
    listener_job jobs[2 * service_count * listen_address_limit];
    int job_count; // the jobs started (or tried) for the selected services
    listener_reports reports; // lock and signal: nullptr where the system cannot make them
    run_state state;          // the per-source limits and the counters
};
