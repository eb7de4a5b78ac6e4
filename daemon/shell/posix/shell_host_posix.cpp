#include "shell_host.h"

#include <cstring>
#include <unistd.h>
#include <vector>

#include "console_shell.h"
#include "module_path.h"

namespace {

// Without a terminal (under systemd, say) there is no dialog: the program
// serves until SIGINT or SIGTERM.
int wait_for_ending(const sigset_t& ending)
{
    int signal_number = 0;
    while (sigwait(&ending, &signal_number) != 0) {
    }
    return shell_stop;
}

} // namespace

int run_shell(const sigset_t& ending, ServiceSelection* choice)
{
    if (console_possible()) {
        const int result = run_console_shell(ending, choice);
        if (result >= 0) return result;
    }
    return wait_for_ending(ending);
}

void restart_program(char* const* options)
{
    char executable[executable_path_size];
    if (module_path(executable, sizeof executable) == 0) return;
    char wait[] = "WAIT";
    // The new instance serves as this one did: same addresses, same reply
    // mode.
    std::vector<char*> arguments = {executable, wait};
    for (char* const* option = options; *option != nullptr; ++option)
        if (std::strcmp(*option, wait) != 0) arguments.push_back(*option);
    arguments.push_back(nullptr);
    ::execv(executable, arguments.data());
}
