// velmoractl: shows and changes the choice of services in VELMORA.CFG from
// a console, where the control dialog cannot be opened (Velmora under
// systemd, a remote shell). It changes the file only.
#pragma once

inline constexpr int command_done = 0;
inline constexpr int command_refused = 1; // the file could not be read or saved, or is not a record to change
inline constexpr int command_misused = 2; // a wrong command line

// Runs the command line; returns the exit status.
int run_selection_command(int argc, char** argv);
