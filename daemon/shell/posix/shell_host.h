// What stands in for the taskbar icon, the control dialog and the message
// loop on POSIX.
#pragma once

#include <csignal>

#include "settings_file.h"

inline constexpr int shell_stop = 0;
inline constexpr int shell_restart = 1;

// Runs until the program is asked to end: by SIGINT or SIGTERM (shell_stop),
// or from the control dialog (shell_stop or shell_restart). `choice` is the
// dialog's own record of the choice in force.
int run_shell(const sigset_t& ending, ServiceSelection* choice);

// Replaces the process image with the running executable, "WAIT" and the
// command line's `options` (null-terminated, as argv + 1).
void restart_program(char* const* options);
