// The parked-thread cache behind thread_run, written once over what each
// system provides: one lock over the list of parked threads, a wake that a
// parked thread waits on under that lock, and the starting of a thread.
#pragma once

#include "threads.h"

#include <cstddef>

void park_lock_enter();
void park_lock_leave();

// One per parked thread; nullptr when the system cannot make one.
struct park_wake;
park_wake* park_wake_create();
void park_wake_destroy(park_wake* wake);
// Called with the lock held.
void park_wake_raise(park_wake* wake);
// Called with the lock held: leaves it while waiting and holds it again on
// return. Returns after a raise, after `milliseconds`, or sooner for no
// reason; the caller looks again.
void park_wake_wait(park_wake* wake, unsigned milliseconds);

// The stack a thread asking for `stack_bytes` is given.
std::size_t thread_stack_granted(unsigned stack_bytes);

// Starts a detached thread that calls thread_serve_and_park(entry, argument,
// its stack); fails as thread_start does.
bool thread_start_parking(thread_entry entry, void* argument, unsigned stack_bytes, int* error);

// The body of every thread that thread_run starts: runs `entry(argument)`,
// then the entries handed over while it is parked, until none comes.
void thread_serve_and_park(thread_entry entry, void* argument, std::size_t stack);
