// Readiness for a service manager (systemd's Type=notify): once every
// listener started by start-up has bound its port or given up, the manager
// is told that Velmora is ready and which services it serves.
#pragma once

#include <cstddef>

#include "startup.h"

// How long start-up waits for the listeners to bind or give up.
inline constexpr unsigned readiness_wait_ms = 5000;

// The services of which a listener has bound its port, separated by ", "
// ("echo (UDP only)" when one of its two has not), and the ones of which no
// listener has.
void listener_summary(const velmora_run& run, char* serving, std::size_t serving_size, char* failing,
                      std::size_t failing_size);

// The notification for the manager: "READY=1\nSTATUS=..." naming what
// serves, or, when no selected listener could start, only a STATUS line
// saying so. `ready` tells which.
void readiness_message(const char* serving, const char* failing, bool anything_selected, char* out,
                       std::size_t out_size, bool* ready);

// Called by the POSIX start-up once the listeners were started. Without a
// service manager it does nothing and returns true: started by hand,
// Velmora keeps running whatever bound. Under one it waits until each
// listener has bound or given up, then sends READY=1 with a STATUS= line;
// it returns false when listeners were selected and none of them could
// start, and the program then ends with status 1 so that the manager shows
// the service as failed.
bool announce_readiness(const velmora_run& run);
