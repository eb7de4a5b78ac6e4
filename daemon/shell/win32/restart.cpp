#include <cstdio>

#include "module_path.h"
#include "shell_win32.h"

bool start_new_instance()
{
    // The program's own full path, so that the new instance is this very
    // file wherever it lies and whatever it is called.
    char program[executable_path_size];
    if (module_path(program, sizeof program) == 0) return false;
    char command_line[sizeof program + 16];
    const int length = std::snprintf(command_line, sizeof command_line, "\"%s\" WAIT", program);
    if (length < 0 || length >= static_cast<int>(sizeof command_line)) return false;

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    // No handles are inherited: the new instance must not hold this one's
    // listening sockets.
    if (!CreateProcessA(program, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        return false;
    if (!CloseHandle(started.hThread)) note_failed_call("CloseHandle");
    if (!CloseHandle(started.hProcess)) note_failed_call("CloseHandle");
    return true;
}
