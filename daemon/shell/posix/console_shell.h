// The control dialog on a terminal. A hint line stands in for the taskbar
// icon and Enter for the left press on it; the dialog is drawn with curses
// and every action goes through control_dialog_proc with the Windows
// message numbers.
#pragma once

#include <csignal>

#include "settings_file.h"

// True when standard input is a terminal in whose foreground this process
// runs, so that a dialog can be drawn and keys read there.
bool console_possible();

// Runs until a signal of `ending` arrives (shell_stop) or the dialog ends
// the program (shell_stop, or shell_restart after "&Apply changes"). The
// terminal is left as it was found. `choice` is the dialog's own record.
int run_console_shell(const sigset_t& ending, ServiceSelection* choice);
