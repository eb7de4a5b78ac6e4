#include "shell_win32.h"

#include <cstdio>
#include <cstring>
#include <shellapi.h>

#include "clock.h"
#include "counter_report.h"
#include "resource.h"

// The first form of the record, which every shell since Windows 95 takes.
static_assert(sizeof(void*) != 4 || NOTIFYICONDATAA_V1_SIZE == 88);

namespace {

constexpr int tip_capacity = 64;
constexpr unsigned retry_pause_ms = 100;
constexpr unsigned tip_every_ms = 5000;

} // namespace

BOOL add_taskbar_icon(HWND window, UINT callback_message, UINT id, HICON icon, const char* tip)
{
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = id;
    data.uCallbackMessage = callback_message;
    data.hIcon = icon;
    data.uFlags = NIF_MESSAGE;
    if (icon != nullptr) data.uFlags |= NIF_ICON;
    if (tip != nullptr) {
        const int length = lstrlenA(tip) + 1;
        // lstrcpynA counts the NUL, so a long tip keeps its first 63 characters.
        if (lstrcpynA(data.szTip, tip, length < tip_capacity ? length : tip_capacity) == nullptr)
            note_failed_call("lstrcpynA");
        data.uFlags |= NIF_TIP;
    }
    return Shell_NotifyIconA(NIM_ADD, &data);
}

BOOL delete_taskbar_icon(HWND window, UINT id)
{
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = id;
    return Shell_NotifyIconA(NIM_DELETE, &data);
}

void taskbar_icon_thread(void*)
{
    // Adding fails for as long as the system has no taskbar to take the icon.
    while (!add_taskbar_icon(control_dialog, WM_USER, taskbar_icon_id, taskbar_icon_image, taskbar_tip))
        clock_sleep_ms(retry_pause_ms);
}

namespace {

// The tip of the counters, as the string table words it; "refused" counts
// what the limits refused and what was taken for a reflection, as the
// service manager's status does.
bool format_counters_tip(const velmora_run& run, char (&tip)[tip_capacity])
{
    char format[tip_capacity];
    if (LoadStringA(program_instance, IDS_COUNTERS_TIP, format, sizeof format) == 0) {
        note_failed_call("LoadStringA(IDS_COUNTERS_TIP)");
        return false;
    }
    const counters_reading total = counters_of_every_service(run);
    std::snprintf(tip, sizeof tip, format, total.sessions, total.open, total.answered,
                  total.limited + total.reflections);
    return true;
}

} // namespace

void counters_tip_thread(void* run)
{
    char last[tip_capacity] = "";
    for (;;) {
        clock_sleep_ms(tip_every_ms);
        char tip[tip_capacity];
        if (!format_counters_tip(*static_cast<const velmora_run*>(run), tip)) continue;
        if (std::strcmp(tip, last) == 0 || control_dialog == nullptr) continue;
        NOTIFYICONDATAA data{};
        data.cbSize = NOTIFYICONDATAA_V1_SIZE;
        data.hWnd = control_dialog;
        data.uID = taskbar_icon_id;
        data.uFlags = NIF_TIP;
        if (lstrcpynA(data.szTip, tip, tip_capacity) == nullptr) {
            note_failed_call("lstrcpynA");
            continue;
        }
        // While the shell has no icon of ours (before it takes it, or after
        // the taskbar restarted) the change fails: the next one tries again.
        if (Shell_NotifyIconA(NIM_MODIFY, &data)) std::memcpy(last, tip, sizeof last);
    }
}
