// MAINDLG's window procedure. Everything the dialog does is decided by the
// shared message table in control_dialog.cpp; this file only lends it the
// window through a dialog_host.
#include "control_dialog.h"
#include "resource.h"
#include "shell_win32.h"
#include "shell_caption.h"
#include "threads.h"
#include "windows_family.h"

static_assert(WM_SIZE == dialog_message_size && WM_CLOSE == dialog_message_close &&
              WM_ENDSESSION == dialog_message_end_session && WM_USERCHANGED == dialog_message_user_changed &&
              WM_INITDIALOG == dialog_message_init && WM_COMMAND == dialog_message_command &&
              WM_USER == dialog_message_icon && WM_LBUTTONDOWN == dialog_mouse_left_down &&
              SIZE_MINIMIZED == dialog_size_minimized);

namespace {

// The window of the message being handled. The dialog lives on the main
// thread only, and a message sent from inside a handler is for the same
// window, so one variable serves.
HWND window_in_hand;

void host_check(int id, int state)
{
    if (!CheckDlgButton(window_in_hand, id, state ? BST_CHECKED : BST_UNCHECKED)) note_failed_call("CheckDlgButton");
}

int host_is_checked(int id) { return IsDlgButtonChecked(window_in_hand, id) == BST_CHECKED; }

// ShowWindow tells the previous visibility, not success; there is nothing
// to check in its result.
void host_bring_up()
{
    ShowWindow(window_in_hand, SW_SHOW);
    ShowWindow(window_in_hand, SW_RESTORE);
    SetLastError(ERROR_SUCCESS);
    if (SetFocus(window_in_hand) == nullptr && GetLastError() != ERROR_SUCCESS) note_failed_call("SetFocus");
    // The system may refuse the foreground to a program the user is not
    // working in; the dialog is shown all the same.
    if (!SetForegroundWindow(window_in_hand)) note_failed_call("SetForegroundWindow");
}

void host_minimize() { ShowWindow(window_in_hand, SW_MINIMIZE); }

void host_hide() { ShowWindow(window_in_hand, SW_HIDE); }

// Ends the dialog without destroying it: the end sequence still removes the
// taskbar icon through this window, and destroys it after that.
void host_close()
{
    if (!EndDialog(window_in_hand, 0)) note_failed_call("EndDialog");
}

void host_post_quit(int code) { PostQuitMessage(code); }

void host_start_icon_thread()
{
    if (!thread_start(taskbar_icon_thread, nullptr, thread_default_stack)) note_failed_call("_beginthread");
}

const dialog_host window_host = {host_check,     host_is_checked, host_bring_up,          host_minimize,
                                 host_hide,      host_close,      host_post_quit,         host_start_icon_thread,
                                 start_new_instance};

// "Run as Service" newly ticked on the NT family, which has no Windows 95
// service processes (Wine accepts the registration but does nothing with
// it): the user is told once, as the choice is applied, that the program
// will be an ordinary one there, and not again at each start. The choice
// is saved all the same, for the settings file may go to a Windows 95
// machine.
void tell_when_service_is_unknown(const ServiceSelection& choice, UINT message, WPARAM wparam)
{
    if (message != WM_COMMAND || LOWORD(wparam) != IDC_APPLY || !host_is_checked(IDC_RUN_AS_SERVICE) ||
        choice.flags[selection_run_as_service_flag] != 0 || !windows_is_nt())
        return;
    char text[512];
    if (LoadStringA(program_instance, IDS_NO_SERVICE_PROCESS, text, sizeof text) == 0) {
        note_failed_call("LoadStringA(IDS_NO_SERVICE_PROCESS)");
        return;
    }
    if (MessageBoxA(window_in_hand, text, shell_caption, MB_OK | MB_ICONINFORMATION) == 0) note_failed_call("MessageBoxA");
}

} // namespace

INT_PTR CALLBACK control_dialog_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    // The dialog's own record comes with WM_INITDIALOG (CreateDialogParamA's
    // last argument) and is kept in the window itself.
    if (message == WM_INITDIALOG) {
        SetLastError(0);
        if (SetWindowLongPtrA(window, DWLP_USER, lparam) == 0 && GetLastError() != 0)
            note_failed_call("SetWindowLongPtrA(DWLP_USER)");
    }
    auto* choice = reinterpret_cast<ServiceSelection*>(GetWindowLongPtrA(window, DWLP_USER));
    // Messages before WM_INITDIALOG (WM_SETFONT) are none of the dialog's
    // business.
    if (choice == nullptr) return FALSE;
    HWND outer = window_in_hand;
    window_in_hand = window;
    tell_when_service_is_unknown(*choice, message, wparam);
    const INT_PTR result = control_dialog_proc(window_host, choice, message, wparam, lparam);
    window_in_hand = outer;
    return result;
}
