#include "velmora_run.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sched.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "fault_net.h"

namespace fs = std::filesystem;

namespace {

bool write_file(const fs::path& path, const void* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

std::string status_field(pid_t pid, const char* name)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string prefix = std::string(name) + ":";
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
    return {};
}

// In the child, between fork and exec: only async-signal-safe calls.
[[noreturn]] void become_velmora(const velmora_setup& setup, char* const* arguments, int namespace_fd, int errors_fd)
{
    if (namespace_fd >= 0 && ::setns(namespace_fd, CLONE_NEWNET) != 0) ::_exit(120);
    if (setup.descriptor_limit > 0) {
        const rlimit limit{static_cast<rlim_t>(setup.descriptor_limit), static_cast<rlim_t>(setup.descriptor_limit)};
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) ::_exit(121);
    }
    if (setup.thread_limit > 0) {
        const rlimit limit{static_cast<rlim_t>(setup.thread_limit), static_cast<rlim_t>(setup.thread_limit)};
        if (::setrlimit(RLIMIT_NPROC, &limit) != 0) ::_exit(125);
    }
    const int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd < 0) ::_exit(122);
    ::dup2(null_fd, STDIN_FILENO);
    ::dup2(setup.output_fd >= 0 ? setup.output_fd : null_fd, STDOUT_FILENO);
    ::dup2(errors_fd, STDERR_FILENO);
    // Nothing else of the test's descriptors reaches the program: its count
    // of descriptors must be its own.
    ::close_range(STDERR_FILENO + 1, ~0U, 0);
    if (setup.close_output) ::close(STDOUT_FILENO);
    if (setup.close_errors) ::close(STDERR_FILENO);
    if (setup.user != 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(setup.user) != 0 || ::setuid(setup.user) != 0) ::_exit(123);
    }
    ::execv(arguments[0], arguments);
    ::_exit(124);
}

} // namespace

std::vector<unsigned char> settings_image(std::uint32_t version, const std::vector<std::uint32_t>& flags)
{
    std::vector<unsigned char> image;
    auto put = [&image](std::uint32_t word) {
        for (int b = 0; b < 4; ++b) image.push_back(static_cast<unsigned char>(word >> (8 * b)));
    };
    put(version);
    for (std::size_t i = 0; i < 10; ++i) put(i < flags.size() ? flags[i] : 0);
    return image;
}

std::vector<unsigned char> all_services() { return settings_image(256, {1, 1, 1, 1, 1, 1, 1, 1, 0, 0}); }

const char* velmora_program() { return VELMORA_PROGRAM; }

bool velmora_start(velmora_run* run, const velmora_setup& setup)
{
    char pattern[] = "/tmp/velmora-fault-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return false;
    run->folder = pattern;
    const fs::path folder(run->folder);
    std::error_code error;
    fs::copy_file(velmora_program(), folder / "velmora", error);
    if (error) return false;
    ::chmod((folder / "velmora").c_str(), 0755);
    ::chmod(run->folder.c_str(), 0755); // another user must reach the program
    if (setup.settings && !write_file(folder / "VELMORA.CFG", setup.settings->data(), setup.settings->size()))
        return false;
    if (setup.quotes && !write_file(folder / "VESK.TXT", setup.quotes->data(), setup.quotes->size())) return false;
    if (setup.settings && ::chmod((folder / "VELMORA.CFG").c_str(), setup.settings_mode) != 0) return false;
    if (setup.settings_folder && !fs::create_directory(folder / "VELMORA.CFG", error)) return false;
    if (setup.prepare && !setup.prepare(run->folder)) return false;

    const std::string program = (folder / "velmora").string();
    const int errors_fd = ::open((folder / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (errors_fd < 0) return false;
    int namespace_fd = -1;
    if (!setup.network_namespace.empty()) {
        namespace_fd = ::open(("/run/netns/" + setup.network_namespace).c_str(), O_RDONLY | O_CLOEXEC);
        if (namespace_fd < 0) {
            ::close(errors_fd);
            return false;
        }
    }
    // The command line is made before the fork: the child only calls exec.
    std::vector<std::string> words = setup.launcher;
    words.push_back(program);
    std::vector<char*> arguments;
    for (std::string& word : words) arguments.push_back(word.data());
    arguments.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) become_velmora(setup, arguments.data(), namespace_fd, errors_fd);
    ::close(errors_fd);
    if (namespace_fd >= 0) ::close(namespace_fd);
    if (pid < 0) return false;
    run->pid = pid;
    return true;
}

bool velmora_alive(velmora_run* run)
{
    if (run->pid <= 0) return false;
    int status = 0;
    const pid_t r = ::waitpid(run->pid, &status, WNOHANG);
    if (r == 0) return true;
    if (r == run->pid) {
        run->exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run->pid = -1;
    }
    return false;
}

bool velmora_started(velmora_run* run, int timeout_ms)
{
    // The main thread's current system call: the signal wait of its loop.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (velmora_alive(run)) {
        std::ifstream in("/proc/" + std::to_string(run->pid) + "/syscall");
        long call = -1;
        if (in >> call && call == SYS_rt_sigtimedwait) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

int velmora_stop(velmora_run* run, int timeout_ms)
{
    if (!velmora_alive(run)) return run->exit_status;
    ::kill(run->pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (velmora_alive(run)) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(run->pid, SIGKILL);
            int status = 0;
            ::waitpid(run->pid, &status, 0);
            run->exit_status = 128 + SIGKILL;
            run->pid = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return run->exit_status;
}

void velmora_discard(velmora_run* run)
{
    if (velmora_alive(run)) {
        ::kill(run->pid, SIGKILL);
        int status = 0;
        ::waitpid(run->pid, &status, 0);
        run->pid = -1;
    }
    if (!run->folder.empty()) {
        std::error_code ignored;
        fs::remove_all(run->folder, ignored);
    }
}

std::string velmora_errors(const velmora_run& run)
{
    std::ifstream in(fs::path(run.folder) / "stderr.txt", std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string sanitizer_reports(const velmora_run& run)
{
    static const char* const marks[] = {"ERROR: AddressSanitizer", "WARNING: ThreadSanitizer", "runtime error:",
                                        "ERROR: LeakSanitizer", "ThreadSanitizer:", "AddressSanitizer:"};
    std::istringstream lines(velmora_errors(run));
    std::string line, reports;
    while (std::getline(lines, line))
        for (const char* mark : marks)
            if (line.find(mark) != std::string::npos) {
                reports += line + "\n";
                break;
            }
    return reports;
}

int descriptor_count(pid_t pid)
{
    DIR* folder = ::opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (folder == nullptr) return -1;
    int count = 0;
    while (const dirent* entry = ::readdir(folder))
        if (entry->d_name[0] != '.') ++count;
    ::closedir(folder);
    return count;
}

int thread_count(pid_t pid)
{
    const std::string field = status_field(pid, "Threads");
    return field.empty() ? -1 : std::atoi(field.c_str());
}

long resident_kb(pid_t pid)
{
    const std::string field = status_field(pid, "VmRSS");
    return field.empty() ? -1 : std::atol(field.c_str());
}

long read_descriptors(pid_t pid) { return descriptor_count(pid); }
long read_threads(pid_t pid) { return thread_count(pid); }

long settle_to(long wanted, int timeout_ms, long (*reading)(pid_t), pid_t pid)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    long value = reading(pid);
    while (value != wanted && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        value = reading(pid);
    }
    return value;
}

long steady_reading(long (*reading)(pid_t), pid_t pid)
{
    long value = reading(pid);
    for (int i = 0; i < 15; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const long next = reading(pid);
        if (next == value) break;
        value = next;
    }
    return value;
}

bool wait_for_ports(const std::vector<std::uint16_t>& tcp, const std::vector<std::uint16_t>& udp, int timeout_ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    auto has_all = [](const std::set<int>& have, const std::vector<std::uint16_t>& want) {
        return std::all_of(want.begin(), want.end(), [&have](std::uint16_t p) { return have.count(p) > 0; });
    };
    for (;;) {
        if (has_all(listening_tcp_ports(), tcp) && has_all(bound_udp_ports(), udp)) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
