// The lines that the listeners write to standard output ("Executing server
// thread for N"). A listener never waits for its line: lines go into a
// bounded queue that one writer thread drains. When the reader of standard
// output does not keep up and the queue is full, lines are dropped and
// counted, and the count is written once output flows again.
#pragma once

// Standard error goes the same way, through a queue and writer of its own:
// a text handed to output_error (a box where there is no desktop, the start
// report) is dropped and counted when nobody reads standard error.

// Starts the writer threads. Until they run (or where it cannot be started)
// lines are written at once by the thread that has them.
void output_lines_start();

// Waits until both queues have been written out, or `limit_ms` have passed
// (a stream that nobody reads must not hold up the end): for a program that
// ends right after its last texts.
void output_lines_drain(unsigned limit_ms);

// Queues one line (formatted as printf would, cut to 158 characters and
// ended with a line feed); never blocks.
[[gnu::format(printf, 1, 2)]] void output_line(const char* format, ...);

// Queues a text for standard error (cut to 8 KiB, written as it is, whole
// or, where the queue has no room for it, not at all and counted); never
// blocks.
void output_error(const char* text);

// How many lines of standard output were dropped since start, for the
// counters.
unsigned long output_lines_dropped();
