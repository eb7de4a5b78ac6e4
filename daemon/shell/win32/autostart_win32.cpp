// Autostart on Windows: the value "VELMORA" that has the system start the
// program. Windows 95 and 98 start the programs under the machine's
// RunServices at boot, before anyone logs on. The NT family never reads
// that key; there the user's Run starts a program at the user's logon,
// which is when a taskbar program can run, and the user can always write it.
#include <windows.h>

#include "autostart.h"
#include "module_path.h"
#include "windows_family.h"

namespace {

const char run_services_key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
const char run_key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char value_name[] = "VELMORA";

} // namespace

void update_autostart(bool enabled)
{
    char program[executable_path_size];
    module_path(program, sizeof program);
    const bool nt = windows_is_nt();
    // The key belongs to the system: where it is missing, there is no
    // autostart to keep, and it is not created.
    HKEY key;
    if (RegOpenKeyA(nt ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, nt ? run_key : run_services_key, &key) !=
        ERROR_SUCCESS)
        return;
    if (enabled) {
        RegSetValueExA(key, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(program),
                       static_cast<DWORD>(lstrlenA(program) + 1));
    } else {
        RegDeleteValueA(key, value_name);
    }
    RegCloseKey(key);
}
