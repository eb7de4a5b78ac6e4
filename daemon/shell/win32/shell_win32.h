// The Windows shell's process-wide state and the pieces that WinMain joins:
// the start-up dialog, the control dialog's window procedure, the taskbar
// icon and the restart. All state here is written by the main thread only,
// before any thread that reads it is started.
#pragma once

#include <windows.h>

extern HINSTANCE program_instance;
// MAINDLG, once created; the taskbar icon is keyed to it.
extern HWND control_dialog;
// TASKBARICON, loaded before the control dialog exists; nullptr when the
// image could not be loaded, and the icon then goes up without one.
extern HICON taskbar_icon_image;

INT_PTR CALLBACK startup_dialog_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// MAINDLG's procedure: translates the window's messages for the shared
// message table of control_dialog.h.
INT_PTR CALLBACK control_dialog_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The tip that the taskbar icon shows.
inline constexpr const char* taskbar_tip = "Velmora V1.0";
inline constexpr UINT taskbar_icon_id = 1;

BOOL add_taskbar_icon(HWND window, UINT callback_message, UINT id, HICON icon, const char* tip);
BOOL delete_taskbar_icon(HWND window, UINT id);
// Puts the icon up, retrying every 100 ms until the shell takes it.
void taskbar_icon_thread(void*);
// Every few seconds puts the run's counters (a velmora_run) into the icon's
// tip, where the mouse shows them.
void counters_tip_thread(void* run);

// Starts a new instance of the running executable with "WAIT"; false when
// it cannot be started.
bool start_new_instance();

// Reports a failed window or shell call where nothing better can be done
// than to note it for a debugger.
void note_failed_call(const char* call);

// A line about how the program serves (the words of the command line it
// ignores, the lack of IPv6) that no box should stop each start for: for a
// debugger, where the Windows face says such things.
void note_for_debugger(const char* line);
