#include "shell_host.h"

#include <unistd.h>

#include "module_path.h"

int run_shell(const char*, const sigset_t& ending)
{
    int signal_number = 0;
    while (sigwait(&ending, &signal_number) != 0) {
    }
    return shell_stop;
}

void restart_program()
{
    char executable[1024];
    if (module_path(executable, sizeof executable) == 0) return;
    char wait[] = "WAIT";
    char* arguments[] = {executable, wait, nullptr};
    ::execv(executable, arguments);
}
