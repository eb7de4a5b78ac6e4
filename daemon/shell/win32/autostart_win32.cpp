// Autostart on Windows: the value "VELMORA" under RunServices, which the
// system reads at boot to start service processes.
#include <windows.h>

#include "autostart.h"
#include "module_path.h"

namespace {

const char run_services_key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServices";
const char value_name[] = "VELMORA";

} // namespace

void update_autostart(bool enabled)
{
    char program[executable_path_size];
    module_path(program, sizeof program);
    // The key belongs to the system: where it is missing, there is no
    // autostart to keep, and it is not created.
    HKEY key;
    if (RegOpenKeyA(HKEY_LOCAL_MACHINE, run_services_key, &key) != ERROR_SUCCESS) return;
    if (enabled) {
        RegSetValueExA(key, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(program),
                       static_cast<DWORD>(lstrlenA(program) + 1));
    } else {
        RegDeleteValueA(key, value_name);
    }
    RegCloseKey(key);
}
