// Velmora's main thread on Windows: start-up, the message loop and the end
// sequence.
#include <cstdio>

#include "clock.h"
#include "message_box.h"
#include "resource.h"
#include "shell_caption.h"
#include "shell_win32.h"
#include "startup.h"
#include "threads.h"

HINSTANCE program_instance;
HWND control_dialog;
HICON taskbar_icon_image;

namespace {

// A text of the string table; empty when it cannot be loaded.
const char* resource_text(UINT id, char* buffer, int size)
{
    if (LoadStringA(program_instance, id, buffer, size) == 0) buffer[0] = '\0';
    return buffer;
}

// Pauses while keeping the start-up dialog painted: the message loop does
// not run yet, so its messages are handled here.
void pause_with_dialog(unsigned milliseconds)
{
    const DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        const DWORD spent = GetTickCount() - start;
        if (spent >= milliseconds) return;
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - spent, QS_ALLINPUT) == WAIT_FAILED) {
            note_failed_call("MsgWaitForMultipleObjects");
            clock_sleep_ms(milliseconds - spent);
            return;
        }
    }
}

void show_sockets_error(int code)
{
    char format[64];
    char caption[64];
    char text[96];
    std::snprintf(text, sizeof text, resource_text(IDS_SOCKET_ERROR, format, sizeof format), code);
    message_box(text, resource_text(IDS_STARTUP_ERROR_CAPTION, caption, sizeof caption));
}

int run_message_loop()
{
    MSG message;
    BOOL got;
    // No IsDialogMessage: the control dialog gets no keyboard navigation.
    while ((got = GetMessageA(&message, nullptr, 0, 0)) != 0) {
        if (got == -1) {
            note_failed_call("GetMessageA");
            return -1;
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int)
{
    program_instance = instance;
    // The record of this run. Static, not on WinMain's stack: the listener
    // threads go on reading it while the run-time ends the process after
    // WinMain has returned.
    static velmora_run run{};
    const startup_host host = {pause_with_dialog, show_sockets_error, nullptr, note_for_debugger};
    if (!read_start_options(arguments, host, &run)) return -1;
    HWND startup_dialog = CreateDialogParamA(instance, "INITDLG", nullptr, startup_dialog_proc, 0);
    if (startup_dialog == nullptr) note_failed_call("CreateDialogParamA(INITDLG)");
    register_service_entry entry = nullptr;
    if (!start_services(host, &run, &entry)) return -1;
    // The dialog keeps a choice of its own, which Apply replaces once saved.
    ServiceSelection choice = run.selection;

    taskbar_icon_image = LoadIconA(instance, "TASKBARICON");
    if (taskbar_icon_image == nullptr) note_failed_call("LoadIconA(TASKBARICON)");
    if (startup_dialog != nullptr && !DestroyWindow(startup_dialog)) note_failed_call("DestroyWindow(INITDLG)");

    control_dialog = CreateDialogParamA(instance, "MAINDLG", nullptr, control_dialog_window_proc,
                                        reinterpret_cast<LPARAM>(&choice));
    if (control_dialog == nullptr) {
        // Without its dialog the program could not be reached or ended: the
        // services run on, but the user is told.
        char text[128];
        message_box(resource_text(IDS_NO_DIALOG, text, sizeof text), shell_caption);
    } else {
        if (!thread_start(taskbar_icon_thread, nullptr, thread_default_stack))
            note_failed_call("_beginthread(taskbar_icon_thread)");
        if (!thread_start(counters_tip_thread, &run, thread_default_stack))
            note_failed_call("_beginthread(counters_tip_thread)");
    }

    run_message_loop();

    delete_taskbar_icon(control_dialog, taskbar_icon_id);
    if (control_dialog != nullptr && !DestroyWindow(control_dialog)) note_failed_call("DestroyWindow(MAINDLG)");
    unregister_as_service(entry);
    std::fflush(stdout);
    return 0;
}
