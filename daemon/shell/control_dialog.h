// The control dialog's logic, one message table for both platforms. The
// Win32 dialog passes its own messages through unchanged; the console dialog
// on POSIX sends the same numbers.
#pragma once

#include <cstdint>

#include "resource.h"
#include "settings_file.h"

// Message and notification numbers, as Windows defines them.
inline constexpr unsigned dialog_message_size = 0x0005;         // WM_SIZE
inline constexpr unsigned dialog_message_close = 0x0010;        // WM_CLOSE
inline constexpr unsigned dialog_message_end_session = 0x0016;  // WM_ENDSESSION
inline constexpr unsigned dialog_message_user_changed = 0x0054; // WM_USERCHANGED
inline constexpr unsigned dialog_message_init = 0x0110;         // WM_INITDIALOG
inline constexpr unsigned dialog_message_command = 0x0111;      // WM_COMMAND
inline constexpr unsigned dialog_message_icon = 0x0400;         // WM_USER, the taskbar icon's callback
inline constexpr unsigned dialog_mouse_left_down = 0x0201;      // WM_LBUTTONDOWN
inline constexpr std::uintptr_t dialog_size_minimized = 1;      // SIZE_MINIMIZED

// The check box of MAINDLG (ids in resource.h) that mirrors flag i of the
// record: the services' boxes in the service table's order, then the two
// options'.
inline constexpr int dialog_box_count = selection_flag_count;
int dialog_box_id(int flag);

// What the logic asks of the window that shows it.
struct dialog_host {
    void (*check)(int id, int state);
    int (*is_checked)(int id);
    // Shows the dialog, restores it, gives it the keyboard focus and brings
    // it to the foreground, in this order.
    void (*bring_up)();
    void (*minimize)();
    void (*hide)();
    void (*close)();
    void (*post_quit)(int code);
    void (*start_icon_thread)();
    // Starts the new instance with "WAIT" (or prepares it, where the process
    // image is replaced after the end sequence); false when it cannot be.
    bool (*start_new_instance)();
};

// Acts on one message; returns 1 where the message counts as handled.
// `choice` is the dialog's own record: the choice in force, which the boxes
// show and which Apply saves.
std::intptr_t control_dialog_proc(const dialog_host& host, ServiceSelection* choice, unsigned message,
                                  std::uintptr_t wparam, std::intptr_t lparam);
