#include <windows.h>

#include "message_box.h"
#include "service_process.h"
#include "shell_caption.h"
#include "windows_family.h"

namespace {

// The system's entry uses the Windows calling convention; the shell's
// register_service_entry is an ordinary function, so calls go through here.
using system_entry = DWORD(WINAPI*)(DWORD process_id, DWORD type);
system_entry register_service_process;

std::uint32_t call_register_service_process(std::uint32_t process_id, std::uint32_t type)
{
    return register_service_process(process_id, type);
}

} // namespace

register_service_entry find_register_service_process()
{
    HMODULE kernel = LoadLibraryA("KERNEL32.DLL");
    if (kernel == nullptr) message_box("Unable to get KERNEL32.DLL handle.", shell_caption);
    FARPROC entry = kernel == nullptr ? nullptr : GetProcAddress(kernel, "RegisterServiceProcess");
    if (entry == nullptr) {
        // The NT family has no service processes of this kind: the user
        // learns it once, when applying "Run as Service", not at each start.
        if (!windows_is_nt())
            message_box("Unable to get \"RegisterServiceProcess\" from KERNEL32.DLL", shell_caption);
        return nullptr;
    }
    register_service_process = reinterpret_cast<system_entry>(reinterpret_cast<void*>(entry));
    return call_register_service_process;
}

