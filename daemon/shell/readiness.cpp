#include "readiness.h"

#include <cstdio>
#include <cstring>

#include "clock.h"
#include "message_box.h"
#include "service_manager.h"

namespace {

constexpr unsigned readiness_poll_ms = 10;

std::size_t started_jobs(const velmora_run& run)
{
    std::size_t count = 0;
    while (count < 2 * service_count && run.jobs[count].service != nullptr) ++count;
    return count;
}

bool all_settled(const velmora_run& run, std::size_t jobs)
{
    for (std::size_t i = 0; i < jobs; ++i)
        if (run.outcomes[i].state.load() == listener_pending) return false;
    return true;
}

void append_name(char* list, std::size_t size, const char* name)
{
    if (size == 0) return;
    const std::size_t used = std::strlen(list);
    std::snprintf(list + used, size - used, "%s%s", used > 0 ? ", " : "", name);
}

} // namespace

void listener_summary(const velmora_run& run, char* serving, std::size_t serving_size, char* failing,
                      std::size_t failing_size)
{
    if (serving_size > 0) serving[0] = '\0';
    if (failing_size > 0) failing[0] = '\0';
    const std::size_t jobs = started_jobs(run);
    // The jobs of one service stand next to each other, TCP before UDP.
    for (std::size_t first = 0; first < jobs;) {
        const service_row* service = run.jobs[first].service;
        std::size_t end = first;
        bool bound[2] = {false, false};
        for (; end < jobs && run.jobs[end].service == service; ++end)
            bound[(end - first) % 2] = run.outcomes[end].state.load() == listener_bound;
        const std::size_t count = end - first;
        char name[48];
        if (count == 2 && bound[0] != bound[1])
            std::snprintf(name, sizeof name, "%s (%s only)", service->name, bound[0] ? "TCP" : "UDP");
        else
            std::snprintf(name, sizeof name, "%s", service->name);
        if (bound[0] || bound[1]) append_name(serving, serving_size, name);
        else append_name(failing, failing_size, name);
        first = end;
    }
}

void readiness_message(const char* serving, const char* failing, bool anything_selected, char* out,
                       std::size_t out_size, bool* ready)
{
    *ready = !anything_selected || serving[0] != '\0';
    if (!anything_selected)
        std::snprintf(out, out_size, "READY=1\nSTATUS=No service is selected: nothing serves");
    else if (!*ready)
        std::snprintf(out, out_size, "STATUS=No listener could start: %s", failing);
    else if (failing[0] == '\0')
        std::snprintf(out, out_size, "READY=1\nSTATUS=Serving %s", serving);
    else
        std::snprintf(out, out_size, "READY=1\nSTATUS=Serving %s; not serving %s", serving, failing);
}

bool announce_readiness(const velmora_run& run)
{
    if (!service_manager_present()) return true;
    const std::size_t jobs = started_jobs(run);
    for (unsigned waited = 0; waited < readiness_wait_ms && !all_settled(run, jobs); waited += readiness_poll_ms)
        clock_sleep_ms(readiness_poll_ms);
    char serving[160];
    char failing[160];
    listener_summary(run, serving, sizeof serving, failing, sizeof failing);
    char message[400];
    bool ready = false;
    readiness_message(serving, failing, jobs > 0, message, sizeof message, &ready);
    service_manager_notify(message);
    if (!ready) {
        // The journal shows why the unit failed, beside the bind failures.
        char text[240];
        std::snprintf(text, sizeof text, "No listener could start (%s): ending with status 1 for the service manager",
                      failing);
        message_box(text, shell_caption);
    }
    return ready;
}
