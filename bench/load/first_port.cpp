// Start-up time: starts the server command and tries to connect to the
// port every millisecond until it answers; then asks the server to end.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "load.h"

namespace {

bool port_answers(const target& t)
{
    const int fd = ::socket(t.family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&t.address), t.length) == 0;
    ::close(fd);
    return ok;
}

// Ends the server: SIGTERM, then SIGKILL after two seconds. Returns the
// exit status, or -1 when it had to be killed or was killed by a signal.
int stop(pid_t child)
{
    ::kill(child, SIGTERM);
    for (int i = 0; i < 200; ++i) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        ::usleep(10000);
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return -1;
}

} // namespace

int measure_first_port(const options& o, const target& t)
{
    if (o.command.empty()) {
        std::fprintf(stderr, "first-port needs a server command after --\n");
        return 2;
    }
    if (port_answers(t)) {
        std::fprintf(stderr, "something already answers on port %d\n", o.port);
        return 2;
    }
    std::vector<char*> arguments;
    for (const std::string& a : o.command) arguments.push_back(const_cast<char*>(a.c_str()));
    arguments.push_back(nullptr);
    report_start();
    const double begin = now_seconds();
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execvp(arguments[0], arguments.data());
        ::_exit(127);
    }
    if (child < 0) return 2;
    const double end = begin + o.seconds;
    double answered = -1;
    long tries = 0;
    while (now_seconds() < end && tries++ < o.max_operations) {
        if (port_answers(t)) {
            answered = now_seconds() - begin;
            break;
        }
        ::usleep(1000);
    }
    const int status = stop(child);
    report("first-port", answered * 1000, "ms",
           "port=" + std::to_string(o.port) + " answered=" + std::to_string(answered >= 0 ? 1 : 0) +
               " exit_status=" + std::to_string(status));
    return answered >= 0 ? 0 : 1;
}

// Waits until the port answers a TCP connect; exit status 0 when it does.
int measure_wait_port(const options& o, const target& t)
{
    const double end = now_seconds() + o.seconds;
    long tries = 0;
    while (now_seconds() < end && tries++ < o.max_operations) {
        if (port_answers(t)) return 0;
        ::usleep(2000);
    }
    std::fprintf(stderr, "velmora_load: port %d did not answer\n", o.port);
    return 1;
}
