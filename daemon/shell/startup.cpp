#include "startup.h"

#include <cstring>

#include "global_text.h"
#include "message_box.h"
#include "module_path.h"
#include "selection.h"
#include "self_check.h"
#include "service_table.h"
#include "sockets.h"

bool command_line_waits(const char* arguments)
{
    return arguments != nullptr && std::strstr(arguments, "WAIT") != nullptr;
}

void start_selected_listeners()
{
    for (const service_row& row : service_table) {
        if (selection_flag(selection, row.selection_flag) == 0) continue;
        void* argument = const_cast<service_row*>(&row);
        thread_start(run_tcp_listener, argument, thread_default_stack);
        if (row.udp_reply != nullptr) thread_start(run_udp_listener, argument, thread_default_stack);
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

bool start_services(const char* arguments, const startup_host& host, register_service_entry* entry)
{
    host.pause(startup_pause_ms);
    module_path(global_text, module_path_limit);
    if (!self_check_passes()) return false;
    if (command_line_waits(arguments)) host.pause(restart_wait_ms);

    const int sockets_error = net_startup();
    if (sockets_error != 0) {
        host.show_sockets_error(sockets_error);
        return false;
    }
    load_selection();
    *entry = find_register_service_process();
    register_as_service(*entry);
    start_selected_listeners();
    return true;
}
