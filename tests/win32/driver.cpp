// WINDRIVER.EXE: works Velmora's windows from inside the same Wine session,
// for tests/wine/run.sh. Every wait is bounded by a time-out given in
// milliseconds. Exit status 0 when the command did what it names, 1 when it
// did not (time-out, window missing), 2 on a usage error.
//
//   wait-box CAPTION MS       text of the message box CAPTION to stdout, then OK
//   no-box CAPTION MS         succeeds when no such box shows up within MS
//   dialog-state MS           "visible=V 101=S ... 116=S" of MAINDLG (pair order)
//   startup-rect MS           visibility and screen rectangle of INITDLG
//   dialog-count              how many MAINDLGs exist now
//   wait-no-dialog MS         until no MAINDLG exists
//   tick ID                   clicks a control of MAINDLG as the mouse would
//   post-icon LPARAM          the taskbar icon's callback, WM_USER with LPARAM
//   close-dialog              WM_CLOSE, as the close box sends it
//   icon-present              whether the shell holds MAINDLG's icon (id 1)
//   reg-get / reg-delete      the AutoStart value VELMORA: under HKLM RunServices
//                             on Windows 95/98, under HKCU Run on Windows NT
//   w-slots                   the ANSI import slots for CreateSemaphoreW,
//                             GetModuleHandleW and LoadLibraryW; prints "ok"
//   replace-9x FROM TO        the Windows 95/98 file replace; prints "0" or
//                             "failed ERROR"
//   hold-desktop MS           stays on the desktop for MS, creating nothing,
//                             so that the session outlives each program
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "files.h"
#include "files_win32.h"

namespace {

constexpr int message_text_id = 0xFFFF;
constexpr int frame_id = 107;
constexpr int dialog_marker_id = 108;  // "&Stop all Services and E&xit" exists only in MAINDLG
constexpr DWORD poll_ms = 50;
const char dialog_caption[] = "Velmora V1.0";
const char run_services_key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
const char run_key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const int box_ids[10] = {101, 102, 103, 104, 105, 106, 115, 114, 110, 116};

struct search {
    const char* caption;
    int required_child;
    HWND found;
    int count;
};

BOOL CALLBACK match_window(HWND window, LPARAM context)
{
    auto* s = reinterpret_cast<search*>(context);
    char title[256];
    char kind[64];
    if (GetWindowTextA(window, title, sizeof title) == 0 && s->caption[0] != '\0') return TRUE;
    if (std::strcmp(title, s->caption) != 0) return TRUE;
    if (GetClassNameA(window, kind, sizeof kind) == 0 || std::strcmp(kind, "#32770") != 0) return TRUE;
    if (GetDlgItem(window, s->required_child) == nullptr) return TRUE;
    // Velmora's own dialogs have unnamed statics too (id -1, as a message
    // box's text); their frame 107 tells them apart once made. While one is
    // being made, its statics exist before the frame, and it is hidden: a
    // box counts only once it is shown, which is also when its text is set.
    const bool own_or_hidden = GetDlgItem(window, frame_id) != nullptr || !IsWindowVisible(window);
    if (s->required_child == message_text_id && own_or_hidden) return TRUE;
    if (s->found == nullptr) s->found = window;
    ++s->count;
    return TRUE;
}

search find(const char* caption, int required_child)
{
    search s{caption, required_child, nullptr, 0};
    EnumWindows(match_window, reinterpret_cast<LPARAM>(&s));
    return s;
}

HWND wait_for(const char* caption, int required_child, DWORD timeout_ms)
{
    const DWORD start = GetTickCount();
    for (;;) {
        const search s = find(caption, required_child);
        if (s.found != nullptr) return s.found;
        if (GetTickCount() - start >= timeout_ms) return nullptr;
        Sleep(poll_ms);
    }
}

HWND control_dialog() { return find(dialog_caption, dialog_marker_id).found; }

int wait_box(const char* caption, DWORD timeout_ms)
{
    HWND box = wait_for(caption, message_text_id, timeout_ms);
    if (box == nullptr) return 1;
    char text[1024];
    GetDlgItemTextA(box, message_text_id, text, sizeof text);
    // The box shows each line break of its text as CR LF.
    for (const char* p = text; *p != '\0'; ++p)
        if (!(p[0] == '\r' && p[1] == '\n')) std::fputc(*p, stdout);
    std::fflush(stdout);
    return PostMessageA(box, WM_COMMAND, IDOK, 0) ? 0 : 1;
}

int dialog_state(DWORD timeout_ms)
{
    HWND dialog = wait_for(dialog_caption, dialog_marker_id, timeout_ms);
    if (dialog == nullptr) return 1;
    std::printf("visible=%d", IsWindowVisible(dialog) ? 1 : 0);
    for (int id : box_ids) std::printf(" %d=%u", id, IsDlgButtonChecked(dialog, id));
    std::printf("\n");
    return 0;
}

// The start-up dialog: the one "Velmora V1.0" dialog with a frame (107)
// but without the buttons of MAINDLG.
BOOL CALLBACK match_startup(HWND window, LPARAM context)
{
    char title[64];
    char kind[64];
    if (GetWindowTextA(window, title, sizeof title) == 0 || std::strcmp(title, dialog_caption) != 0) return TRUE;
    if (GetClassNameA(window, kind, sizeof kind) == 0 || std::strcmp(kind, "#32770") != 0) return TRUE;
    if (GetDlgItem(window, frame_id) == nullptr || GetDlgItem(window, dialog_marker_id) != nullptr) return TRUE;
    *reinterpret_cast<HWND*>(context) = window;
    return FALSE;
}

int startup_rect(DWORD timeout_ms)
{
    const DWORD start = GetTickCount();
    HWND found = nullptr;
    // Found as soon as it is shown: a dialog is created hidden and shown
    // after its initialisation, where it is centred.
    while (found = nullptr, EnumWindows(match_startup, reinterpret_cast<LPARAM>(&found)),
           found == nullptr || !IsWindowVisible(found)) {
        if (GetTickCount() - start >= timeout_ms) return 1;
        Sleep(poll_ms);
    }
    RECT r;
    if (!GetWindowRect(found, &r)) return 1;
    std::printf("visible=%d x=%ld y=%ld w=%ld h=%ld screen=%dx%d\n", IsWindowVisible(found) ? 1 : 0, r.left, r.top,
                r.right - r.left, r.bottom - r.top, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    return 0;
}

int wait_no_dialog(DWORD timeout_ms)
{
    const DWORD start = GetTickCount();
    while (control_dialog() != nullptr) {
        if (GetTickCount() - start >= timeout_ms) return 1;
        Sleep(poll_ms);
    }
    return 0;
}

int tick(int id)
{
    HWND dialog = control_dialog();
    HWND control = dialog == nullptr ? nullptr : GetDlgItem(dialog, id);
    if (control == nullptr) return 1;
    DWORD_PTR ignored;
    return SendMessageTimeoutA(control, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &ignored) != 0 ? 0 : 1;
}

int post_to_dialog(UINT message, WPARAM first, LPARAM second)
{
    HWND dialog = control_dialog();
    return dialog != nullptr && PostMessageA(dialog, message, first, second) ? 0 : 1;
}

// The shell tells whether it holds an icon by accepting a change to it.
int icon_present(HWND window)
{
    NOTIFYICONDATAA data{};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = window;
    data.uID = 1;
    data.uFlags = 0;
    const bool present = Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
    std::printf("%d\n", present ? 1 : 0);
    return present ? 0 : 1;
}

int reg_value(bool remove)
{
    // Windows NT never reads RunServices; there a program starts with the
    // user's session from the user's Run.
    const bool windows_nt = (GetVersion() & 0x80000000u) == 0;
    HKEY key;
    if (RegOpenKeyA(windows_nt ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, windows_nt ? run_key : run_services_key,
                    &key) != ERROR_SUCCESS)
        return 1;
    LONG result;
    if (remove) {
        result = RegDeleteValueA(key, "VELMORA");
    } else {
        char data[1100] = {};
        DWORD type = 0;
        DWORD size = sizeof data - 1;
        result = RegQueryValueExA(key, "VELMORA", nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
        if (result == ERROR_SUCCESS) std::printf("type=%lu size=%lu data=%s\n", type, size, data);
    }
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? 0 : 1;
}

// This program links the same import slots as Velmora's programs, so these
// W calls land on the ANSI ones.
int w_slots()
{
    HANDLE unnamed = CreateSemaphoreW(nullptr, 0, 1, nullptr);
    const bool counts = unnamed != nullptr && ReleaseSemaphore(unnamed, 1, nullptr) &&
                        WaitForSingleObject(unnamed, 0) == WAIT_OBJECT_0 && WaitForSingleObject(unnamed, 0) == WAIT_TIMEOUT;
    HANDLE named = CreateSemaphoreW(nullptr, 1, 1, L"VelmoraSlotCheck");
    HANDLE same = OpenSemaphoreA(SEMAPHORE_ALL_ACCESS, FALSE, "VelmoraSlotCheck");
    const bool names = named != nullptr && same != nullptr;
    const bool modules = GetModuleHandleW(L"KERNEL32.DLL") == GetModuleHandleA("KERNEL32.DLL") &&
                         GetModuleHandleW(nullptr) == GetModuleHandleA(nullptr) &&
                         LoadLibraryW(L"WSOCK32.DLL") == LoadLibraryA("WSOCK32.DLL") &&
                         LoadLibraryW(L"NO-SUCH.DLL") == nullptr;
    for (HANDLE h : {unnamed, named, same})
        if (h != nullptr) CloseHandle(h);
    std::printf("%s\n", counts && names && modules ? "ok" : "failed");
    return counts && names && modules ? 0 : 1;
}

int replace_9x(const char* from, const char* to)
{
    if (file_replace_by_renames(from, to) == 0) {
        std::printf("0\n");
        return 0;
    }
    std::printf("failed %d\n", file_last_error());
    return 1;
}

// Wine closes a desktop once its last program has left it, and its shell
// (explorer.exe) with it; the next program has to start both again.
int hold_desktop(DWORD timeout_ms)
{
    if (GetDesktopWindow() == nullptr) return 1;
    Sleep(timeout_ms);
    return 0;
}

DWORD milliseconds(const char* text) { return static_cast<DWORD>(std::strtoul(text, nullptr, 10)); }

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) return 2;
    // The output is compared byte for byte: no CR before each LF.
    _setmode(_fileno(stdout), _O_BINARY);
    const std::string command = argv[1];
    if (command == "wait-box" && argc == 4) return wait_box(argv[2], milliseconds(argv[3]));
    if (command == "no-box" && argc == 4) return wait_for(argv[2], message_text_id, milliseconds(argv[3])) ? 1 : 0;
    if (command == "dialog-state" && argc == 3) return dialog_state(milliseconds(argv[2]));
    if (command == "startup-rect" && argc == 3) return startup_rect(milliseconds(argv[2]));
    if (command == "dialog-count") {
        std::printf("%d\n", find(dialog_caption, dialog_marker_id).count);
        return 0;
    }
    if (command == "wait-no-dialog" && argc == 3) return wait_no_dialog(milliseconds(argv[2]));
    if (command == "tick" && argc == 3) return tick(std::atoi(argv[2]));
    if (command == "post-icon" && argc == 3)
        return post_to_dialog(WM_USER, 1, static_cast<LPARAM>(std::strtol(argv[2], nullptr, 0)));
    if (command == "close-dialog") return post_to_dialog(WM_CLOSE, 0, 0);
    if (command == "icon-present") {
        HWND dialog = control_dialog();
        return dialog == nullptr ? 1 : icon_present(dialog);
    }
    if (command == "reg-get") return reg_value(false);
    if (command == "reg-delete") return reg_value(true);
    if (command == "w-slots") return w_slots();
    if (command == "replace-9x" && argc == 4) return replace_9x(argv[2], argv[3]);
    if (command == "hold-desktop" && argc == 3) return hold_desktop(milliseconds(argv[2]));
    return 2;
}
