// Import slots for the system calls that Windows 95 and 98 export only as
// stubs (they fail with ERROR_CALL_NOT_IMPLEMENTED) and that code we do not
// write calls anyway. Every program links this file, so the linker takes
// these slots instead of KERNEL32's and the calls land here, on the ANSI
// calls that every Windows has.
//
// libgcc's thread mutexes (used by the C++ run-time's exception tables and
// thread-local storage) wait on a semaphore made by CreateSemaphoreW: on
// Windows 95 that makes none, and two threads in such a mutex at once would
// no longer exclude each other. The C run-time's helpers look up optional
// entries of MSVCRT.DLL and ADVAPI32.DLL with GetModuleHandleW and
// LoadLibraryW; they get on without them, but they should see the system
// as it is.
#include <windows.h>

namespace {

// The name in the system's ANSI code page; false (with the reason set)
// when it does not fit.
bool ansi_name(LPCWSTR name, char (&out)[MAX_PATH])
{
    return WideCharToMultiByte(CP_ACP, 0, name, -1, out, sizeof out, nullptr, nullptr) != 0;
}

HANDLE WINAPI create_semaphore_w(LPSECURITY_ATTRIBUTES attributes, LONG initial, LONG maximum, LPCWSTR name)
{
    if (name == nullptr) return CreateSemaphoreA(attributes, initial, maximum, nullptr);
    char ansi[MAX_PATH];
    return ansi_name(name, ansi) ? CreateSemaphoreA(attributes, initial, maximum, ansi) : nullptr;
}

HMODULE WINAPI get_module_handle_w(LPCWSTR name)
{
    if (name == nullptr) return GetModuleHandleA(nullptr);
    char ansi[MAX_PATH];
    return ansi_name(name, ansi) ? GetModuleHandleA(ansi) : nullptr;
}

HMODULE WINAPI load_library_w(LPCWSTR name)
{
    char ansi[MAX_PATH];
    return name != nullptr && ansi_name(name, ansi) ? LoadLibraryA(ansi) : nullptr;
}

} // namespace

// The slots bear the names that the import library gives KERNEL32's entries
// (stdcall: the size of the arguments follows the @).
extern "C" HANDLE(WINAPI* const create_semaphore_w_slot)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR)
    __asm__("__imp__CreateSemaphoreW@16");
extern "C" HMODULE(WINAPI* const get_module_handle_w_slot)(LPCWSTR) __asm__("__imp__GetModuleHandleW@4");
extern "C" HMODULE(WINAPI* const load_library_w_slot)(LPCWSTR) __asm__("__imp__LoadLibraryW@4");

HANDLE(WINAPI* const create_semaphore_w_slot)(LPSECURITY_ATTRIBUTES, LONG, LONG, LPCWSTR) = create_semaphore_w;
HMODULE(WINAPI* const get_module_handle_w_slot)(LPCWSTR) = get_module_handle_w;
HMODULE(WINAPI* const load_library_w_slot)(LPCWSTR) = load_library_w;
