#include "service_process.h"

#include "message_box.h"
#include "shell_caption.h"

void register_as_service(const ServiceSelection& selection, register_service_entry entry)
{
    if (selection.flags[selection_run_as_service_flag] == 0 || entry == nullptr) return;
    if (entry(0, rsp_simple_service) == 0) message_box("RegisterServiceProcess(KERNEL32.DLL) failed", shell_caption);
}

void unregister_as_service(register_service_entry entry)
{
    if (entry == nullptr) return;
    if (entry(0, rsp_unregister_service) == 0)
        message_box("(Un)RegisterServiceProcess(KERNEL32.DLL) failed", shell_caption);
}
