// Velmora on POSIX: the start-up of the Windows program with stand-ins for
// its desktop parts. The start-up dialog is a notice on standard error, and
// the message loop waits until SIGINT or SIGTERM asks the program to end.
#include <csignal>
#include <cstdio>
#include <string>
#include <unistd.h>

#include "clock.h"
#include "message_box.h"
#include "shell_host.h"
#include "startup.h"

namespace {

void show_sockets_error(int code)
{
    char text[64];
    std::snprintf(text, sizeof text, "Socket Error Nr: %d", code);
    message_box(text, "VESK - Error");
}

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

    message_box("Velmora Version 1.0\nCopyright (C) Velmora developers\nStarting Service Threads", shell_caption);
    register_service_entry entry = nullptr;
    if (!start_services(joined_arguments(argc, argv).c_str(), {clock_sleep_ms, show_sockets_error}, &entry)) return -1;

    const int status = run_shell(ending);

    unregister_as_service(entry);
    std::fflush(stdout);
    if (status == shell_restart) restart_program();
    _exit(0);
}
