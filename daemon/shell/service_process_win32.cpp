#include <windows.h>

#include "message_box.h"
#include "startup.h"

register_service_entry find_register_service_process()
{
    HMODULE kernel = LoadLibraryA("KERNEL32.DLL");
    if (kernel == nullptr) message_box("Unable to get KERNEL32.DLL handle.", shell_caption);
    FARPROC entry = kernel == nullptr ? nullptr : GetProcAddress(kernel, "RegisterServiceProcess");
    if (entry == nullptr) {
        message_box("Unable to get \"RegisterServiceProcess\" from KERNEL32.DLL", shell_caption);
        return nullptr;
    }
    return reinterpret_cast<register_service_entry>(reinterpret_cast<void*>(entry));
}
