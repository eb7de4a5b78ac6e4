// Starting a thread with a requested stack and one argument; no thread is
// ever joined or told to stop. Threads that run one piece of work after
// another may be kept parked between them.
#pragma once

#include <cstdint>

using thread_entry = void (*)(void* argument);

// The stack that every thread of Velmora asks for.
inline constexpr unsigned thread_default_stack = 10000;

// Starts `entry(argument)` on a new detached thread. The stack is at least
// `stack_bytes`, rounded up to what the system needs. Returns true when the
// thread runs; otherwise `error`, when given, receives the system's error
// number.
bool thread_start(thread_entry entry, void* argument, unsigned stack_bytes, int* error = nullptr);

// Starts `entry(argument)` at once on a thread of its own, as thread_start
// does, but hands it to a parked thread when one waits whose stack is large
// enough. A thread started here does not end with its entry: it parks and
// waits up to thread_park_ms for the next thread_run, and ends when none
// comes or when thread_park_limit threads already wait. So a run never waits
// for another, and creating and ending a thread leave the path of a busy
// service. Returns as thread_start does.
bool thread_run(thread_entry entry, void* argument, unsigned stack_bytes, int* error = nullptr);
// Bounds of the parked threads: how many wait at most, and how long each.
// Under a burst of short sessions these bounds keep the threads created to
// a handful, where a smaller limit or a shorter wait let thousands be
// created (bench/RESULTS.md). A parked thread holds its stack and the
// system's record of it: 64 of them stay within a few MiB, and a second
// after a burst they are gone.
inline constexpr int thread_park_limit = 64;
inline constexpr unsigned thread_park_ms = 1000;

// A counting signal that one thread waits on and any thread raises; raising
// never blocks. Created once and never destroyed.
struct thread_signal;
// nullptr when the system cannot make one.
thread_signal* thread_signal_create();
void thread_signal_raise(thread_signal* signal);
void thread_signal_wait(thread_signal* signal);
// Waits as thread_signal_wait does, for at most `milliseconds`; true when
// the signal was raised, false when the time ran out.
bool thread_signal_wait_for(thread_signal* signal, unsigned milliseconds);

// A lock around short work that threads share (a queued line, a text being
// copied): the system's mutex or critical section, so that a waiting thread
// sleeps instead of spinning. Created once and never destroyed; nullptr
// when the system cannot make one.
struct thread_lock;
thread_lock* thread_lock_create();
void thread_lock_take(thread_lock* lock);
void thread_lock_release(thread_lock* lock);

// Packs a socket or a small integer into the one argument and back.
inline void* thread_argument(std::intptr_t value) { return reinterpret_cast<void*>(value); }
inline std::intptr_t thread_argument_value(void* argument) { return reinterpret_cast<std::intptr_t>(argument); }
