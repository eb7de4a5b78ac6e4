// Velmora on POSIX: the start-up of the Windows program with stand-ins for
// its desktop parts. The start-up dialog is a notice on standard error, and
// the message loop waits until SIGINT or SIGTERM asks the program to end.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include "clock.h"
#include "console.h"
#include "counter_signal.h"
#include "message_box.h"
#include "output_lines.h"
#include "readiness.h"
#include "shell_caption.h"
#include "service_table.h"
#include "shell_host.h"
#include "shown_text.h"
#include "start_report.h"
#include "startup.h"

namespace {

// Without an icon or a dialog, this line is what tells an operator (or the
// journal) what runs.
void report_start(const char* settings_path, selection_file_kind settings, const char* account)
{
    const char* why = "no service is selected";
    switch (settings) {
    case selection_file_kind::missing: why = "the file is missing"; break;
    case selection_file_kind::short_file: why = "the file is shorter than 44 bytes"; break;
    case selection_file_kind::other_version: why = "the file is of another version"; break;
    case selection_file_kind::not_plain: why = "it is not a plain file but a folder, pipe or device"; break;
    case selection_file_kind::unreadable: why = "the file cannot be read"; break;
    case selection_file_kind::whole: break;
    }
    char line[start_report_size + shown_text_size];
    if (account[0] != '\0') std::snprintf(line, sizeof line, "Velmora: %s: %s\n", settings_path, account);
    else std::snprintf(line, sizeof line, "Velmora: %s: nothing runs: %s\n", settings_path, why);
    output_error(line);
}

// A superserver holds a descriptor for every open connection (and echo's
// relay two more while a client streams). The soft limit that shells and
// systemd hand on, 1024, would turn connections away long before the
// system has to; nothing here uses select(), so the whole allowance is
// safe to take. The hard limit stays as it is. A failure is said, and the
// program runs on with the limit it was given.
void take_every_descriptor_allowed()
{
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == files.rlim_max) return;
    rlim_t most = files.rlim_max;
    // An unlimited hard limit is still capped by the kernel's fs.nr_open.
    if (most == RLIM_INFINITY) {
        most = files.rlim_cur;
        if (std::FILE* f = std::fopen("/proc/sys/fs/nr_open", "re")) {
            unsigned long nr_open = 0;
            if (std::fscanf(f, "%lu", &nr_open) == 1 && nr_open > most) most = nr_open;
            std::fclose(f);
        }
    }
    if (most <= files.rlim_cur) return;
    const rlim_t given = files.rlim_cur;
    files.rlim_cur = most;
    if (::setrlimit(RLIMIT_NOFILE, &files) == 0) return;
    char line[160];
    std::snprintf(line, sizeof line, "Velmora: cannot raise the descriptor limit from %lu to %lu: %s\n",
                  static_cast<unsigned long>(given), static_cast<unsigned long>(most), std::strerror(errno));
    output_error(line);
}

// Descriptors 0 to 2 that the caller left closed would be taken by the first
// sockets, and the output lines and boxes would go into a client's
// connection: they get /dev/null, as daemons do.
void open_missing_standard_descriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int opened = ::open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

void show_sockets_error(int code)
{
    char text[64];
    std::snprintf(text, sizeof text, "Socket Error Nr: %d", code);
    message_box(text, "VESK - Error");
}

constexpr const char* usage_head =
    "Usage: velmora [WAIT] [--listen ADDRESS]... [--udp-reply-port=fresh|service] [--quiet]\n"
    "               [--per-source-replies=N] [--per-source-sessions=N] [--log-clients]\n"
    "Serves the services that the settings file VELMORA.CFG beside the program\n"
    "selects, until SIGINT or SIGTERM (each with its port):\n";
constexpr const char* usage_options =
    "SIGUSR1 writes each running service's counters to standard output.\n"
    "\n"
    "  WAIT                  wait 5 seconds first, until an ending instance has\n"
    "                        released the ports\n"
    "  --listen ADDRESS      serve on this IPv4 or IPv6 address only; repeat the\n"
    "                        option for more (default: every address of the host);\n"
    "                        a link-local one with its interface: fe80::1%eth0\n"
    "  --udp-reply-port=fresh|service\n"
    "                        fresh (default): every UDP reply of echo, chargen,\n"
    "                        daytime and time leaves from a new port;\n"
    "                        service: from the service's own port, for clients\n"
    "                        that connect their socket (nc -u, rdate -u), and only\n"
    "                        to source ports from 1024 on\n"
    "  --quiet               no line on standard output for each connection\n"
    "  --per-source-replies=N\n"
    "                        at most N UDP replies a second per service to one\n"
    "                        source outside loopback (an IPv4 address or an IPv6\n"
    "                        /64), with a burst of N/5; 0: no limit (default 50)\n"
    "  --per-source-sessions=N\n"
    "                        at most N TCP sessions open at once from one source\n"
    "                        outside loopback, across services; 0: no limit\n"
    "                        (default 64)\n"
    "  --log-clients         a line on standard output for each TCP session as it\n"
    "                        ends: service, client, bytes in and out, duration\n"
    "  --help                print this text and exit\n"
    "  --version             print the version and exit\n";

// The services with their ports, as velmoractl names them, in lines of at
// most 80 columns.
std::string usage_text()
{
    std::string text = usage_head;
    std::string line = " ";
    for (int i = 0; i < service_count; ++i) {
        const std::string item = " " + std::string(service_table[i].name) + " (" +
                                 std::to_string(service_table[i].port) + ")" + (i + 1 < service_count ? "," : "");
        if (line.size() + item.size() > 80) {
            text += line + "\n";
            line = " ";
        }
        line += item;
    }
    return text + line + "\n" + usage_options;
}

// --help and --version answer and end the program before anything starts,
// so that they can be asked beside a running instance. Returns true when
// one of them was given.
bool answered_help_or_version(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        const std::string text = argument == "--help" ? usage_text() : argument == "--version" ? "Velmora Version 1.0\n" : "";
        if (text.empty()) continue;
        std::fputs(text.c_str(), stdout);
        return true;
    }
    return false;
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
    if (answered_help_or_version(argc, argv)) return std::fflush(stdout) == 0 ? 0 : 1;
    open_missing_standard_descriptors();
    // A reader of standard output or error that goes away must not end the
    // program; the write fails and the line is lost instead. So must echo's
    // relay into a connection its client has reset: the send fails.
    std::signal(SIGPIPE, SIG_IGN);
    take_every_descriptor_allowed();

    // Every thread inherits these blocked, so that only the main thread takes
    // the signals that end the program.
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGINT);
    sigaddset(&ending, SIGTERM);
    sigset_t blocked = ending;
    block_counter_signal(&blocked);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);

    // The record of this run: main never returns once the listeners run (it
    // ends the process with _exit), so its stack holds the record for them.
    velmora_run run{};
    const startup_host host = {clock_sleep_ms, show_sockets_error, report_start, console_write_error};
    if (!read_start_options(joined_arguments(argc, argv).c_str(), host, &run)) return -1;
    message_box("Velmora Version 1.0\nCopyright (C) Velmora developers\nStarting Service Threads", shell_caption);
    register_service_entry entry = nullptr;
    if (!start_services(host, &run, &entry)) return -1;
    // Under a service manager that waits for readiness, a Velmora that
    // serves nothing ends, so that the manager shows the failure.
    if (!announce_readiness(&run)) {
        output_lines_drain(1000);
        _exit(1);
    }

    start_counter_watch(&run);

    // The dialog keeps a choice of its own, which Apply replaces once saved.
    ServiceSelection choice = run.selection;
    const int status = run_shell(ending, &choice);

    unregister_as_service(entry);
    std::fflush(stdout);
    if (status == shell_restart) restart_program(argv + 1);
    _exit(0);
}
