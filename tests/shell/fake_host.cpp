#include "fake_host.h"

#include "autostart.h"

std::vector<std::string> host_calls;
int host_boxes[200];
bool host_restart_works = true;
bool host_minimize_sends_size = false;

namespace {

void note(const std::string& call) { host_calls.push_back(call); }

void host_check(int id, int state)
{
    note("check " + std::to_string(id) + " " + std::to_string(state));
    host_boxes[id] = state;
}

int host_is_checked(int id)
{
    note("is_checked " + std::to_string(id));
    return host_boxes[id];
}

void host_bring_up() { note("bring_up"); }

void host_minimize()
{
    note("minimize");
    if (host_minimize_sends_size) control_dialog_proc(fake_host, &host_choice, dialog_message_size, dialog_size_minimized, 0);
}

void host_hide() { note("hide"); }
void host_close() { note("close"); }
void host_post_quit(int code) { note("post_quit " + std::to_string(code)); }
void host_icon_thread() { note("icon_thread"); }

bool host_new_instance()
{
    note("new_instance");
    return host_restart_works;
}

} // namespace

ServiceSelection host_choice;

const dialog_host fake_host = {host_check,     host_is_checked, host_bring_up,    host_minimize,   host_hide,
                               host_close,     host_post_quit,  host_icon_thread, host_new_instance};

void reset_fake_host()
{
    host_calls.clear();
    for (int& box : host_boxes) box = 0;
    host_restart_works = true;
    host_minimize_sends_size = false;
}

// Takes the place of the systemd unit writer, which the library would
// otherwise bring in: these tests never touch the machine's units.
void update_autostart(bool enabled) { note(std::string("autostart ") + (enabled ? "1" : "0")); }
