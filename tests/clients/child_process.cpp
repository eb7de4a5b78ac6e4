#include "child_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using clock_type = std::chrono::steady_clock;

int milliseconds_left(clock_type::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

pid_t spawn(const std::string& program, const std::vector<std::string>& arguments, int output_fd, int error_fd)
{
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Never a terminal on standard input: Velmora would open its console dialog.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, output_fd, STDOUT_FILENO);
    if (error_fd >= 0) posix_spawn_file_actions_adddup2(&actions, error_fd, STDERR_FILENO);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return error == 0 ? pid : -1;
}

// Waits for the child until the deadline; kills it if it is still there.
// Returns the wait status, and whether it had to be killed.
int reap(pid_t pid, clock_type::time_point deadline, bool* killed)
{
    int status = 0;
    *killed = false;
    for (;;) {
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return status;
        if (r < 0 && errno != EINTR) return -1;
        if (milliseconds_left(deadline) == 0) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    *killed = true;
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

} // namespace

run_result run_program(const std::string& program, const std::vector<std::string>& arguments, int timeout_ms)
{
    run_result result;
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return result;
    const pid_t pid = spawn(program, arguments, pipe_fds[1], -1);
    ::close(pipe_fds[1]);
    if (pid < 0) {
        ::close(pipe_fds[0]);
        return result;
    }

    const auto deadline = clock_type::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        pollfd p{pipe_fds[0], POLLIN, 0};
        const int ready = ::poll(&p, 1, milliseconds_left(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break; // deadline passed
        char chunk[4096];
        const ssize_t n = ::read(pipe_fds[0], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break; // the child closed its output
        result.output.append(chunk, static_cast<std::size_t>(n));
    }
    ::close(pipe_fds[0]);

    bool killed = false;
    const int status = reap(pid, deadline, &killed);
    result.timed_out = killed;
    if (!killed && WIFEXITED(status)) {
        result.exited = true;
        result.status = WEXITSTATUS(status);
    }
    return result;
}

pid_t start_program(const std::string& program, const std::string& log_path)
{
    const int log = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log < 0) return -1;
    const pid_t pid = spawn(program, {}, log, log);
    ::close(log);
    return pid;
}

int stop_program(pid_t pid, int timeout_ms)
{
    ::kill(pid, SIGTERM);
    bool killed = false;
    const int status = reap(pid, clock_type::now() + std::chrono::milliseconds(timeout_ms), &killed);
    if (killed || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}
