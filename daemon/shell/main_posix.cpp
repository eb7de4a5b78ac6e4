// Velmora on POSIX: the start-up of the Windows program with stand-ins for
// its desktop parts. The start-up dialog is a notice on standard error, and
// the message loop waits until SIGINT or SIGTERM asks the program to end.
#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "message_box.h"
#include "module_path.h"
#include "selection.h"
#include "self_check.h"
#include "shell_host.h"
#include "sockets.h"
#include "startup.h"
#include "text_buffer.h"
#include "clock.h"

namespace {

constexpr std::size_t module_path_limit = 254;

std::string joined_arguments(int argc, char** argv)
{
    std::string arguments;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) arguments += ' ';
        arguments += argv[i];
    }
    return arguments;
}

} // namespace

int main(int argc, char** argv)
{
    // The "Executing server thread" lines reach a log at once.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);

    // Every thread inherits these blocked, so that only the main thread takes
    // the signals that end the program.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &ending, nullptr);

    message_box("Velmora Version 1.0\nCopyright (C) Velmora developers. All rights reserved.\n"
                "Starting Service Threads",
                shell_caption);
    clock_sleep_ms(startup_pause_ms);
    module_path(global_text, module_path_limit);
    if (!self_check_passes()) return -1;
    if (command_line_waits(joined_arguments(argc, argv).c_str())) clock_sleep_ms(restart_wait_ms);

    const int startup_error = net_startup();
    if (startup_error != 0) {
        std::snprintf(global_text, global_text_size, "Socket Error Nr: %d", startup_error);
        message_box(global_text, "VESK - Error");
        return -1;
    }
    load_selection();
    const register_service_entry entry = find_register_service_process();
    register_as_service(entry);
    start_selected_listeners();

    const int status = run_shell(ending);

    unregister_as_service(entry);
    std::fflush(stdout);
    if (status == shell_restart) restart_program();
    _exit(0);
}
