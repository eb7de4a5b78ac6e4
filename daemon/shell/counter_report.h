// The counters of a run as an operator asks for them: a line per running
// service (SIGUSR1 on POSIX), and a short form for the service manager's
// status and the Win32 face's icon.
#pragma once

#include <cstddef>

#include "velmora_run.h"

// Writes one line per service with a listener serving, then the lines of
// output dropped, to standard output.
void write_counters(const velmora_run& run);

// "3 sessions (0 open), 2 answered, 5 refused (1 as reflections), 0 lines
// dropped" over every service.
void summarize_counters(const velmora_run& run, char* text, std::size_t size);

// The counters summed over every service, for the Win32 icon's tip.
counters_reading counters_of_every_service(const velmora_run& run);
