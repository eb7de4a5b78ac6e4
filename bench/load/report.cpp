#include <cstdio>
#include <cstring>

#include "load.h"

namespace {

struct cpu_times {
    unsigned long long busy[2] = {0, 0};
    unsigned long long total[2] = {0, 0};
};

cpu_times started;
cpu_times stopped;
bool stop_taken = false;
long watched = 0;
double watched_started = 0;
double watched_stopped = 0;

// Busy and total jiffies of CPUs 0 and 1 from /proc/stat.
cpu_times cpu_sample()
{
    cpu_times t;
    std::FILE* f = std::fopen("/proc/stat", "r");
    if (f == nullptr) return t;
    char line[512];
    while (std::fgets(line, sizeof line, f) != nullptr) {
        int cpu = -1;
        unsigned long long v[8] = {};
        if (std::sscanf(line, "cpu%d %llu %llu %llu %llu %llu %llu %llu %llu", &cpu, &v[0], &v[1], &v[2], &v[3], &v[4],
                        &v[5], &v[6], &v[7]) != 9 ||
            cpu < 0 || cpu > 1)
            continue;
        unsigned long long total = 0;
        for (unsigned long long x : v) total += x;
        t.total[cpu] = total;
        t.busy[cpu] = total - v[3] - v[4]; // less idle and iowait
    }
    std::fclose(f);
    return t;
}

} // namespace

void report_watch(long pid) { watched = pid; }

void report_start()
{
    started = cpu_sample();
    if (watched > 0) watched_started = process_tree_cpu_seconds(watched);
    stop_taken = false;
}

void report_stop()
{
    stopped = cpu_sample();
    if (watched > 0) watched_stopped = process_tree_cpu_seconds(watched);
    stop_taken = true;
}

void report(const std::string& measure, double value, const std::string& unit, const std::string& details)
{
    if (!stop_taken) report_stop();
    double busy[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        const unsigned long long total = stopped.total[i] - started.total[i];
        if (total > 0) busy[i] = 100.0 * static_cast<double>(stopped.busy[i] - started.busy[i]) / static_cast<double>(total);
    }
    // The server's own CPU time: unlike the busy share of its CPU, other
    // work on the machine does not count in it.
    char server[64] = "";
    if (watched > 0) std::snprintf(server, sizeof server, " server_cpu_s=%.3f", watched_stopped - watched_started);
    std::printf("RESULT measure=%s value=%.3f unit=%s %s cpu0_busy=%.0f%% cpu1_busy=%.0f%%%s\n", measure.c_str(), value,
                unit.c_str(), details.c_str(), busy[0], busy[1], server);
    std::fflush(stdout);
}
