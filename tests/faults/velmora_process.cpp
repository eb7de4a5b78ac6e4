#include "velmora_process.h"

#include <chrono>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <sys/syscall.h>
#include <thread>

namespace {

std::string status_field(pid_t pid, const char* name)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::string prefix = std::string(name) + ":";
    while (std::getline(in, line))
        if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
    return {};
}

} // namespace

bool velmora_started(velmora_process* run, int timeout_ms)
{
    // The main thread's current system call: the signal wait of its loop.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (velmora_alive(run)) {
        std::ifstream in("/proc/" + std::to_string(run->pid) + "/syscall");
        long call = -1;
        // And the start report has reached a captured standard error: it
        // goes through the output queue, a moment after the main thread.
        if (in >> call && call == SYS_rt_sigtimedwait &&
            (run->errors_capture < 0 || velmora_errors(*run).find("Velmora: ") != std::string::npos))
            return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string sanitizer_reports(const velmora_process& run)
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

int threads_in_accept(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* folder = ::opendir(tasks.c_str());
    if (folder == nullptr) return 0;
    int count = 0;
    while (const dirent* entry = ::readdir(folder)) {
        if (entry->d_name[0] == '.') continue;
        // The first word is the number of the system call the thread waits in.
        std::ifstream file(tasks + "/" + entry->d_name + "/syscall");
        long call = -1;
        if (file >> call && call == SYS_accept4) ++count;
    }
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

