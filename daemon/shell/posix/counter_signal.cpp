#include "counter_signal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "counter_report.h"
#include "output_lines.h"
#include "service_manager.h"
#include "start_report.h"
#include "threads.h"

namespace {

void watch(void* raw)
{
    const auto* run = static_cast<const velmora_run*>(raw);
    sigset_t wanted;
    sigemptyset(&wanted);
    sigaddset(&wanted, SIGUSR1);
    const bool managed = service_manager_present();
    const timespec every{status_every_ms / 1000, 0};
    char last[320] = "";
    for (;;) {
        if (sigtimedwait(&wanted, nullptr, &every) == SIGUSR1) {
            write_counters(*run);
            continue;
        }
        if (!managed) continue;
        char summary[180];
        summarize_counters(*run, summary, sizeof summary);
        // The listeners that failed stay named, as the start's status named them.
        char failed[120];
        note_failed_services(*run, failed, sizeof failed);
        char message[sizeof last];
        std::snprintf(message, sizeof message, "STATUS=%s%s", summary, failed);
        // The manager is told only what changed; a message it did not take
        // is sent again the next time.
        if (std::strcmp(message, last) == 0) continue;
        if (service_manager_notify(message) == 0) std::memcpy(last, message, sizeof last);
    }
}

} // namespace

void block_counter_signal(sigset_t* blocked) { sigaddset(blocked, SIGUSR1); }

void start_counter_watch(const velmora_run* run)
{
    int error = 0;
    if (thread_start(watch, const_cast<velmora_run*>(run), thread_default_stack + 1024, &error)) return;
    char line[120];
    std::snprintf(line, sizeof line, "Velmora: no thread for the counters (Error Nr: %d): SIGUSR1 is ignored\n", error);
    output_error(line);
}
