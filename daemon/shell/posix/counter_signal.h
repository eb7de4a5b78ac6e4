// The counters on request: SIGUSR1 writes a line per running service, and
// under a service manager the short form goes to its STATUS= every few
// seconds, so that `systemctl status velmora` shows it.
#pragma once

#include <csignal>

#include "velmora_run.h"

inline constexpr unsigned status_every_ms = 5000;

// Adds SIGUSR1 to `blocked`, which every thread must inherit blocked, so
// that the watch below alone takes it.
void block_counter_signal(sigset_t* blocked);

// Starts the thread that answers SIGUSR1 and sends the status; `run`
// outlives it. A failure to start is said.
void start_counter_watch(const velmora_run* run);
