#include "shell_win32.h"

INT_PTR CALLBACK startup_dialog_proc(HWND window, UINT message, WPARAM, LPARAM)
{
    if (message != WM_INITDIALOG) return 0;
    RECT frame;
    if (!GetWindowRect(window, &frame)) {
        note_failed_call("GetWindowRect");
        return 1;
    }
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    // A dialog wider than the screen gets a negative position, partly off it.
    const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
    if (!SetWindowPos(window, HWND_TOP, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE)) note_failed_call("SetWindowPos");
    return 1;
}
