#include "program_run.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <grp.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace fs = std::filesystem;

namespace {

// Every scratch folder made, removed at exit also when a test stopped
// half-way.
std::vector<std::string> scratch_folders;

void remove_scratch_folders()
{
    for (const std::string& folder : scratch_folders) {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
}

// Everything the child needs, made before the fork: after it, in a test
// process that may run threads, only async-signal-safe calls are safe.
struct child_plan {
    const char* program;
    char* const* arguments;
    char* const* environment;
    int standard[3]; // what becomes descriptors 0, 1 and 2; -1 leaves one closed
    int network_namespace;
    long descriptor_limit;
    long thread_limit;
    uid_t user;
    pid_t parent;
};

bool set_limit(int resource, long value)
{
    const rlimit limit{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
    return value <= 0 || ::setrlimit(resource, &limit) == 0;
}

[[noreturn]] void become_program(const child_plan& plan)
{
    if (plan.network_namespace >= 0 && ::setns(plan.network_namespace, CLONE_NEWNET) != 0) ::_exit(120);
    if (!set_limit(RLIMIT_NOFILE, plan.descriptor_limit) || !set_limit(RLIMIT_NPROC, plan.thread_limit)) ::_exit(121);
    for (int target = 0; target < 3; ++target)
        if (plan.standard[target] >= 0 && ::dup2(plan.standard[target], target) < 0) ::_exit(122);
    // Nothing else of the test's reaches the program: its count of
    // descriptors must be its own.
    ::close_range(3, ~0U, 0);
    for (int target = 0; target < 3; ++target)
        if (plan.standard[target] < 0) ::close(target);
    // Another current folder: the program must find its files beside itself
    // all the same.
    if (::chdir("/") != 0) ::_exit(123);
    if (plan.user != 0 && (::setgroups(0, nullptr) != 0 || ::setgid(plan.user) != 0 || ::setuid(plan.user) != 0))
        ::_exit(124);
    // After the change of user, which clears it: the program dies with the
    // test, even when the test dies before its parent could look.
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != plan.parent) ::_exit(125);
    ::execve(plan.program, plan.arguments, plan.environment);
    ::_exit(127);
}

void close_capture(int* fd)
{
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
}

// The descriptor the child takes for a standard output, or -1 for none.
// A captured stream goes to an anonymous file that stays with the run,
// opened for appending: unlike a named file, it gives two threads that write
// at once no lock on the offset, and one line would overwrite the other.
int stream_source(const stream_setup& setup, int null_fd, int* capture)
{
    switch (setup.kind) {
    case stream_kind::captured:
        *capture = ::memfd_create("program-output", MFD_CLOEXEC);
        if (*capture >= 0 && ::fcntl(*capture, F_SETFL, O_APPEND) != 0) close_capture(capture);
        return *capture;
    case stream_kind::null_device:
        return null_fd;
    case stream_kind::descriptor:
        return setup.fd;
    case stream_kind::closed:
        break;
    }
    return -1;
}

void record_end(program_run* run, int status)
{
    run->end_signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    run->exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + run->end_signal;
    run->pid = -1;
}

void kill_and_reap(program_run* run)
{
    ::kill(run->pid, SIGKILL);
    int status = 0;
    while (::waitpid(run->pid, &status, 0) < 0 && errno == EINTR) {
    }
    record_end(run, status);
}

// Reads from the start without moving the offset the program writes at.
std::string captured_text(int fd)
{
    std::string text;
    char block[65536];
    ssize_t n;
    while (fd >= 0 && (n = ::pread(fd, block, sizeof block, static_cast<off_t>(text.size()))) > 0)
        text.append(block, static_cast<std::size_t>(n));
    return text;
}

} // namespace

bool scratch_copy(program_run* run, const std::string& source, const std::string& name)
{
    char pattern[] = "/tmp/velmora-test-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return false;
    if (scratch_folders.empty()) std::atexit(remove_scratch_folders);
    scratch_folders.emplace_back(pattern);
    run->folder = pattern;
    run->program = run->folder + "/" + name;
    const fs::path copy(run->program);
    std::error_code error;
    fs::create_directories(copy.parent_path(), error);
    if (!error) fs::copy_file(source, copy, error);
    return !error && ::chmod(run->folder.c_str(), 0755) == 0 && ::chmod(copy.parent_path().c_str(), 0755) == 0 &&
           ::chmod(copy.c_str(), 0755) == 0;
}

bool program_start(program_run* run, const launch_options& options)
{
    std::vector<std::string> argument_texts = options.launcher;
    argument_texts.push_back(run->program);
    argument_texts.insert(argument_texts.end(), options.arguments.begin(), options.arguments.end());
    // The test's own entries come after: the first of a name is the one a
    // program sees.
    std::vector<std::string> environment_texts = options.environment;
    for (char** entry = environ; *entry != nullptr; ++entry) environment_texts.emplace_back(*entry);
    std::vector<char*> arguments, environment;
    for (std::string& a : argument_texts) arguments.push_back(a.data());
    for (std::string& e : environment_texts) environment.push_back(e.data());
    arguments.push_back(nullptr);
    environment.push_back(nullptr);

    close_capture(&run->output_capture);
    close_capture(&run->errors_capture);
    const int null_fd = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    child_plan plan{argument_texts.front().c_str(), arguments.data(), environment.data(),
                    {null_fd, stream_source(options.output, null_fd, &run->output_capture),
                     stream_source(options.errors, null_fd, &run->errors_capture)},
                    -1, options.descriptor_limit, options.thread_limit, options.user, ::getpid()};
    if (!options.network_namespace.empty())
        plan.network_namespace = ::open(("/run/netns/" + options.network_namespace).c_str(), O_RDONLY | O_CLOEXEC);
    const bool ready = null_fd >= 0 && (options.output.kind == stream_kind::closed || plan.standard[1] >= 0) &&
                       (options.errors.kind == stream_kind::closed || plan.standard[2] >= 0) &&
                       (options.network_namespace.empty() || plan.network_namespace >= 0);
    const pid_t pid = ready ? ::fork() : -1;
    if (pid == 0) become_program(plan);
    if (null_fd >= 0) ::close(null_fd);
    if (plan.network_namespace >= 0) ::close(plan.network_namespace);
    run->pid = pid;
    run->exit_status = -1;
    run->end_signal = 0;
    return pid > 0;
}

bool program_alive(program_run* run)
{
    if (run->pid <= 0) return false;
    int status = 0;
    const pid_t reaped = ::waitpid(run->pid, &status, WNOHANG);
    if (reaped == 0) return true;
    if (reaped == run->pid) record_end(run, status);
    run->pid = -1;
    return false;
}

int program_wait(program_run* run, int timeout_ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (program_alive(run)) {
        if (std::chrono::steady_clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return run->exit_status;
}

int program_stop(program_run* run, int timeout_ms)
{
    if (program_alive(run)) {
        ::kill(run->pid, SIGTERM);
        if (program_wait(run, timeout_ms) < 0) kill_and_reap(run);
    }
    return run->exit_status;
}

void program_discard(program_run* run)
{
    if (program_alive(run)) kill_and_reap(run);
    close_capture(&run->output_capture);
    close_capture(&run->errors_capture);
    if (!run->folder.empty()) {
        std::error_code ignored;
        fs::remove_all(run->folder, ignored);
        run->folder.clear();
    }
}

std::string program_output(const program_run& run) { return captured_text(run.output_capture); }
std::string program_errors(const program_run& run) { return captured_text(run.errors_capture); }

program_result run_to_end(const std::string& program, const launch_options& options, int timeout_ms)
{
    program_run run;
    run.program = program;
    program_result result;
    if (!program_start(&run, options)) return result;
    result.timed_out = program_wait(&run, timeout_ms) < 0;
    result.output = program_output(run);
    result.errors = program_errors(run);
    program_discard(&run);
    result.exited = !result.timed_out && run.end_signal == 0;
    if (result.exited) result.status = run.exit_status;
    return result;
}
