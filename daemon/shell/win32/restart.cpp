#include <cstring>
#include <string>

#include "module_path.h"
#include "shell_win32.h"

namespace {

// What follows the program's name in a command line, which is quoted when
// it holds spaces.
const char* command_line_options(const char* command_line)
{
    const char* at = command_line;
    if (*at == '"') {
        ++at;
        while (*at != '\0' && *at != '"') ++at;
        if (*at == '"') ++at;
    } else {
        while (*at != '\0' && *at != ' ' && *at != '\t') ++at;
    }
    while (*at == ' ' || *at == '\t') ++at;
    // A restarted instance's own "WAIT" is not passed on a second time.
    if (std::strncmp(at, "WAIT", 4) == 0 && (at[4] == '\0' || at[4] == ' ' || at[4] == '\t')) at += 4;
    while (*at == ' ' || *at == '\t') ++at;
    return at;
}

} // namespace

bool start_new_instance()
{
    // The program's own full path, so that the new instance is this very
    // file wherever it lies and whatever it is called.
    char program[executable_path_size];
    if (module_path(program, sizeof program) == 0) return false;
    // The new instance serves as this one did: the options of this one's
    // command line follow "WAIT".
    std::string command_line = std::string("\"") + program + "\" WAIT";
    const char* options = command_line_options(GetCommandLineA());
    if (*options != '\0') command_line += std::string(" ") + options;

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    // No handles are inherited: the new instance must not hold this one's
    // listening sockets.
    if (!CreateProcessA(program, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        return false;
    if (!CloseHandle(started.hThread)) note_failed_call("CloseHandle");
    if (!CloseHandle(started.hProcess)) note_failed_call("CloseHandle");
    return true;
}
