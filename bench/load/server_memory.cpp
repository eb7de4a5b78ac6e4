#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <unistd.h>
#include <string>
#include <unordered_map>
#include <vector>

#include "load.h"

namespace {

// The value in KiB of a line "Name:   1234 kB" in a /proc file, or -1.
long field_kib(const std::string& path, const char* name)
{
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return -1;
    char line[256];
    long value = -1;
    const size_t length = std::strlen(name);
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
            value = std::strtol(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(f);
    return value;
}

long parent_of(long pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return -1;
    char text[1024];
    const size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    text[n] = '\0';
    // "pid (name) state ppid ...": the name may hold spaces, so start after
    // the last closing parenthesis.
    const char* p = std::strrchr(text, ')');
    if (p == nullptr) return -1;
    char state = 0;
    long parent = -1;
    if (std::sscanf(p + 1, " %c %ld", &state, &parent) != 2) return -1;
    return parent;
}

// The process and all its descendants.
std::vector<long> process_tree(long pid)
{
    std::unordered_map<long, std::vector<long>> children;
    if (DIR* d = ::opendir("/proc")) {
        while (dirent* e = ::readdir(d)) {
            char* end = nullptr;
            const long p = std::strtol(e->d_name, &end, 10);
            if (end == e->d_name || *end != '\0') continue;
            children[parent_of(p)].push_back(p);
        }
        ::closedir(d);
    }
    std::vector<long> tree{pid};
    for (size_t i = 0; i < tree.size(); ++i) {
        const auto found = children.find(tree[i]);
        if (found != children.end()) tree.insert(tree.end(), found->second.begin(), found->second.end());
    }
    return tree;
}

double cpu_seconds_of(long pid)
{
    const std::string path = "/proc/" + std::to_string(pid) + "/stat";
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return -1;
    char text[1024];
    const size_t n = std::fread(text, 1, sizeof text - 1, f);
    std::fclose(f);
    text[n] = '\0';
    // After the name: state, then fields 4 to 13, then utime and stime
    // (fields 14 and 15) in clock ticks, every thread included.
    const char* p = std::strrchr(text, ')');
    if (p == nullptr) return -1;
    unsigned long long user = 0, system = 0;
    if (std::sscanf(p + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &user, &system) != 2) return -1;
    return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

} // namespace

long memory_rss_kib(long pid) { return field_kib("/proc/" + std::to_string(pid) + "/status", "VmRSS"); }

long thread_count(long pid) { return field_kib("/proc/" + std::to_string(pid) + "/status", "Threads"); }

long memory_pss_tree_kib(long pid, int* processes)
{
    const std::vector<long> tree = process_tree(pid);
    long sum = 0;
    for (long p : tree) {
        const long pss = field_kib("/proc/" + std::to_string(p) + "/smaps_rollup", "Pss");
        if (pss > 0) sum += pss;
    }
    if (processes != nullptr) *processes = static_cast<int>(tree.size());
    return sum;
}

double process_tree_cpu_seconds(long pid)
{
    double sum = 0;
    for (long p : process_tree(pid)) {
        const double seconds = cpu_seconds_of(p);
        if (seconds < 0 && p == pid) return -1;
        if (seconds > 0) sum += seconds;
    }
    return sum;
}
