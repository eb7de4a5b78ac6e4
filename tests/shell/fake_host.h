// A dialog_host that writes down every call, for tests of the message table.
#pragma once

#include <string>
#include <vector>

#include "control_dialog.h"

// The calls in order, as "check 101 1", "is_checked 101", "bring_up",
// "minimize", "hide", "close", "post_quit 0", "icon_thread", "new_instance",
// and "autostart 1" for each update of the autostart entry.
extern std::vector<std::string> host_calls;

// Check states that is_checked reports, by control id.
extern int host_boxes[200];
// What start_new_instance answers.
extern bool host_restart_works;
// When set, minimize sends WM_SIZE SIZE_MINIMIZED back, as Windows does.
extern bool host_minimize_sends_size;

extern const dialog_host fake_host;
// The dialog's own record, which the fake host's messages are sent with.
extern ServiceSelection host_choice;

void reset_fake_host();
