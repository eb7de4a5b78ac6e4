#include "startup.h"

#include <cstdio>
#include <cstring>

#include "global_text.h"
#include "message_box.h"
#include "module_path.h"
#include "output_lines.h"
#include "selection.h"
#include "self_check.h"
#include "service_table.h"
#include "sockets.h"

bool command_line_waits(const char* arguments)
{
    return arguments != nullptr && std::strstr(arguments, "WAIT") != nullptr;
}

namespace {

bool start_listener(thread_entry listener, const service_row& row, const char* transport)
{
    int error = 0;
    if (thread_start(listener, const_cast<service_row*>(&row), thread_default_stack, &error)) return true;
    char text[128];
    std::snprintf(text, sizeof text, "Error Nr: %d\nThe %s %s listener (port %u) cannot start", error, row.name,
                  transport, static_cast<unsigned>(row.port));
    message_box(text, "VESK - thread start failed");
    return false;
}

void append_name(char* list, std::size_t size, const char* name)
{
    const std::size_t used = std::strlen(list);
    std::snprintf(list + used, size - used, "%s%s", used > 0 ? ", " : "", name);
}

} // namespace

void start_selected_listeners(char* started, std::size_t started_size)
{
    if (started_size > 0) started[0] = '\0';
    for (const service_row& row : service_table) {
        if (selection_flag(selection, row.selection_flag) == 0) continue;
        bool running = start_listener(run_tcp_listener, row, "TCP");
        if (row.udp_reply != nullptr) running = start_listener(run_udp_listener, row, "UDP") && running;
        if (running && started_size > 0) append_name(started, started_size, row.name);
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
    if (!self_check_at_start()) return false;
    if (command_line_waits(arguments)) host.pause(restart_wait_ms);

    const int sockets_error = net_startup();
    if (sockets_error != 0) {
        host.show_sockets_error(sockets_error);
        return false;
    }
    const selection_file_kind settings = load_selection();
    *entry = find_register_service_process();
    register_as_service(*entry);
    output_lines_start();
    char started[128];
    start_selected_listeners(started, sizeof started);
    if (host.report != nullptr) host.report(settings_file_path(), settings, started);
    return true;
}
