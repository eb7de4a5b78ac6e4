// One Velmora for one fault test (tests/support/velmora_start.h), under the
// names the fault tests use, and a view of the running process through /proc.
#pragma once

#include <string>
#include <sys/types.h>

#include "program_run.h"
#include "velmora_start.h"

inline bool velmora_alive(velmora_process* run) { return program_alive(run); }
inline int velmora_stop(velmora_process* run, int timeout_ms = 5000) { return program_stop(run, timeout_ms); }
inline void velmora_discard(velmora_process* run) { program_discard(run); }
inline std::string velmora_errors(const velmora_process& run) { return program_errors(run); }

// Waits until start-up is over: the main thread waits for its ending signal.
bool velmora_started(velmora_process* run, int timeout_ms);

// The sanitizer's report lines in standard error, empty when there are none.
std::string sanitizer_reports(const velmora_process& run);

int descriptor_count(pid_t pid); // -1 when unknown
int thread_count(pid_t pid);     // -1 when unknown
// Threads blocked in accept: each holds a descriptor that the system takes
// before the wait and that /proc lists only once a connection comes.
int threads_in_accept(pid_t pid);
long resident_kb(pid_t pid);     // -1 when unknown

// Polls `reading` until it returns `wanted` or the time is up; returns the
// last value read.
long settle_to(long wanted, int timeout_ms, long (*reading)(pid_t), pid_t pid);
long read_descriptors(pid_t pid);
// Reads until two readings 200 ms apart agree (at most a few seconds).
long steady_reading(long (*reading)(pid_t), pid_t pid);
long read_threads(pid_t pid);
