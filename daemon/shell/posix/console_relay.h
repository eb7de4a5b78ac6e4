// While the control dialog can take the terminal, standard output and
// standard error run through pipes to a relay thread, which passes the lines
// of the services on as they come and holds them back while the dialog is on
// the screen, so that they never write across it.
#pragma once

#include <cstddef>
#include <string>

// Puts the pipes in place of descriptors 1 and 2 and starts the relay
// thread. False when it cannot; output then goes straight out as before.
bool relay_start();

// From its return until relay_release, nothing reaches the old outputs.
void relay_hold();
// Writes what was held back, then lets output through again.
void relay_release();

// While holding: how many lines wait, and the first line of the latest
// write to standard error (the latest box), "" when none came.
int relay_held_lines();
std::string relay_last_held_box();

// Writes to `fd` (a descriptor of the caller's) in turn with the relayed
// output, so that neither cuts into the other's lines.
void relay_write(int fd, const char* text, std::size_t size);

// Puts descriptors 1 and 2 back, passes on what is still in the pipes and
// lets the relay thread end; waits for it at most a second.
void relay_stop();
