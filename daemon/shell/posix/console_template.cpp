#include "console_template.h"

#include "control_dialog.h"

namespace {
constexpr control_kind button = control_kind::push_button;
constexpr control_kind box = control_kind::check_box;
} // namespace

const template_control maindlg_controls[maindlg_control_count] = {
    {id_stop, button, "&Stop all Services and E&xit", 148, 160, 104, 12, false, true},
    {id_discard_changes, button, "&Discard changes", 148, 175, 104, 12, false, true},
    {id_restart, button, "&Restart all Services", 10, 160, 104, 12, true, true},
    {id_apply, button, "&Apply changes", 10, 175, 104, 12, false, true},
    {id_echo, box, "&Echo (Port 7, TCP/UDP)", 22, 18, 165, 12, false, true},
    {id_discard, box, "&Di&scard (Port 9, TCP/UDP)", 22, 30, 165, 12, false, true},
    {id_daytime, box, "Da&ytime (Port 13, TCP/UDP)", 22, 42, 165, 12, false, true},
    {id_quote, box, "&Quote of the day (Port 17, TCP)", 22, 54, 165, 12, false, true},
    {id_chargen, box, "&Chargen (Port 19, TCP/UDP)", 22, 66, 165, 12, false, true},
    {id_telnet, box, "&Telnet Message(Port 23, TCP)", 22, 78, 165, 12, false, true},
    {id_time, box, "&Time (Port 37, TCP/UDP)", 22, 102, 165, 12, false, true},
    {id_dns, box, "&DNS (Port 53, UDP)", 22, 114, 165, 12, true, true},
    {0, control_kind::static_text, "(Sends message that telnet logins are not allowed on this server)", 34, 90, 213, 8,
     false, false},
    {id_frame, control_kind::group_box, "", 10, 5, 243, 126, false, false},
    {0, control_kind::icon, "MAINICON", 218, 19, 21, 20, false, false},
    {id_run_as_service, box, "Run as &Service", 22, 135, 72, 12, false, true},
    {id_auto_start, box, "Auto&Start", 201, 135, 45, 12, false, true},
    {id_options_frame, control_kind::group_box, "", 10, 126, 243, 24, false, false},
};

int control_index(int id)
{
    for (int i = 0; i < maindlg_control_count; ++i)
        if (id != 0 && maindlg_controls[i].id == id) return i;
    return -1;
}
