#include "readiness.h"

#include <cstdio>

#include "message_box.h"
#include "service_manager.h"
#include "sockets.h"
#include "shell_caption.h"
#include "start_report.h"
#include "startup.h"

void readiness_message(const velmora_run& run, char* out, std::size_t out_size, bool* ready)
{
    *ready = run.job_count == 0 || any_listener_serving(run);
    char account[start_report_size];
    describe_listeners(run, account, sizeof account);
    if (run.job_count == 0) std::snprintf(out, out_size, "READY=1\nSTATUS=nothing runs: no service is selected");
    else std::snprintf(out, out_size, "%sSTATUS=%s", *ready ? "READY=1\n" : "", account);
}

bool announce_readiness(velmora_run* run)
{
    if (!service_manager_present()) return true;
    wait_for_listeners(run, listeners_told_within_ms);
    char message[start_report_size + 32];
    bool ready = false;
    readiness_message(*run, message, sizeof message, &ready);
    const int error = service_manager_notify(message);
    if (error == net_error_would_block) {
        message_box("The service manager's socket did not take the notification at once; it was dropped",
                    shell_caption);
    } else if (error != 0) {
        char text[120];
        std::snprintf(text, sizeof text,
                      "The notification for the service manager could not be sent (Error Nr: %d); it was dropped",
                      error);
        message_box(text, shell_caption);
    }
    // The journal shows why the unit failed, beside the start report.
    if (!ready) message_box("No listener could start: ending with status 1 for the service manager", shell_caption);
    return ready;
}
