// What a run keeps while it serves, beside its options: the per-source
// limits and each service's counters. Made at start-up, reached by every
// listener through its job, and by the session threads through their
// frames; it lives as long as the process.
#pragma once

#include "service_counters.h"
#include "source_limits.h"

struct run_state {
    source_limits* limits = nullptr; // nullptr: no per-source limit
    bool log_clients = false;        // --log-clients
    service_counters counters[source_services]; // by the index in the service table
};
