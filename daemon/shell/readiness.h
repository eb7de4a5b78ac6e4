// Readiness for a service manager (systemd's Type=notify): once every
// listener started by start-up has bound its port or given up, the manager
// is told that Velmora is ready and what serves.
#pragma once

#include <cstddef>

#include "velmora_run.h"

// The notification for the manager from the listeners' outcomes: with any
// listener serving (or no service selected), "READY=1\nSTATUS=" and the
// start report's account of the services; with none serving, only a STATUS
// line. `ready` tells which.
void readiness_message(const velmora_run& run, char* out, std::size_t out_size, bool* ready);

// Called by the POSIX start-up once the listeners were started. Without a
// service manager it does nothing and returns true: started by hand,
// Velmora keeps running whatever bound. Under one it waits until each
// listener has bound or given up, then tells the manager; it returns false
// when services were selected and none of their listeners could start, and
// the program then ends with status 1 so that the manager shows the
// service as failed.
bool announce_readiness(velmora_run* run);
