#include "startup.h"

#include <cstring>

#include "message_box.h"
#include "selection.h"
#include "services.h"

bool command_line_waits(const char* arguments)
{
    return arguments != nullptr && std::strstr(arguments, "WAIT") != nullptr;
}

void start_selected_listeners()
{
    for (const service_row& row : service_table) {
        if (selection_flag(selection, row.selection_flag) == 0) continue;
        thread_start(row.tcp_listener, nullptr, thread_default_stack);
        if (row.udp_listener != nullptr) thread_start(row.udp_listener, nullptr, thread_default_stack);
    }
}

void register_as_service(register_service_entry entry)
{
    if (selection.run_as_service == 0 || entry == nullptr) return;
    if (entry(0, rsp_simple_service) == 0) message_box("RegisterServiceProcess(KERNEL32.DLL) failed", shell_caption);
}

void unregister_as_service(register_service_entry entry)
{
    if (entry == nullptr) return;
    if (entry(0, rsp_unregister_service) == 0)
        message_box("(Un)RegisterServiceProcess(KERNEL32.DLL) failed", shell_caption);
}
