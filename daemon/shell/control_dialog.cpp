#include "control_dialog.h"

#include <cstdio>

#include "message_box.h"
#include "service_table.h"
#include "shown_text.h"
#include "shell_caption.h"

namespace {

// The template's ids go by the boxes' places in the dialog, where time comes
// before DNS; each box's label names its row's port (checked by the tests).
constexpr int box_ids[dialog_box_count] = {IDC_ECHO,    IDC_DISCARD, IDC_DAYTIME, IDC_QUOTE,          IDC_CHARGEN,
                                           IDC_TELNET,  IDC_TIME,    IDC_DNS,     IDC_RUN_AS_SERVICE, IDC_AUTO_START};
static_assert(dialog_box_count == service_count + selection_option_count);

} // namespace

int dialog_box_id(int flag) { return flag >= 0 && flag < dialog_box_count ? box_ids[flag] : 0; }

namespace {

void boxes_from_record(const dialog_host& host, const ServiceSelection& choice)
{
    for (int i = 0; i < dialog_box_count; ++i) host.check(dialog_box_id(i), choice.flags[i] != 0);
}

ServiceSelection record_from_boxes(const dialog_host& host)
{
    ServiceSelection record{};
    record.format_version = selection_format_version;
    for (int i = 0; i < dialog_box_count; ++i) record.flags[i] = host.is_checked(dialog_box_id(i)) ? 1 : 0;
    return record;
}

// A restart after a failed save would bring up the old file's choice (or
// none) while the user believes the new one saved: this instance goes on
// with the choice in force, and the box says why.
void show_save_failure(int error)
{
    char reason[96];
    selection_file_error_text(error, reason, sizeof reason);
    char text[shown_text_size + sizeof reason + 160];
    std::snprintf(text, sizeof text,
                  "The selection could not be saved to\n%s\n%s\n"
                  "Velmora goes on with the services it runs now and was not restarted.",
                  settings_file_path(), reason);
    message_box(text, shell_caption, box_icon::exclamation);
}

void apply_changes(const dialog_host& host, ServiceSelection* choice)
{
    const ServiceSelection ticked = record_from_boxes(host);
    shown_text_store(settings_file_path());
    int error = 0;
    if (!save_selection(ticked, &error)) {
        // The boxes keep the ticks for another try; the record, which
        // Discard puts back into them, stays the choice in force.
        show_save_failure(error);
        return;
    }
    *choice = ticked;
    // When no new instance can be started, this one keeps serving; the saved
    // selection takes effect at the next start.
    if (!host.start_new_instance()) {
        message_box("Velmora could not be restarted.\nThe new selection is saved and takes effect at the next start.",
                    shell_caption);
        return;
    }
    host.post_quit(0);
}

std::intptr_t command(const dialog_host& host, ServiceSelection* choice, int id)
{
    switch (id) {
    case IDC_STOP:
        host.close();
        host.post_quit(0);
        break;
    case IDC_APPLY:
        apply_changes(host, choice);
        break;
    case IDC_DISCARD_CHANGES:
        boxes_from_record(host, *choice);
        host.minimize();
        break;
    default:
        break;
    }
    return 0;
}

} // namespace

std::intptr_t control_dialog_proc(const dialog_host& host, ServiceSelection* choice, unsigned message,
                                  std::uintptr_t wparam, std::intptr_t lparam)
{
    switch (message) {
    case dialog_message_init:
        boxes_from_record(host, *choice);
        return 1;
    case dialog_message_command:
        return command(host, choice, static_cast<int>(wparam & 0xFFFF));
    case dialog_message_size:
        if (wparam == dialog_size_minimized) host.hide();
        return 0;
    case dialog_message_close:
        host.minimize();
        return 0;
    case dialog_message_end_session:
        return 1;
    case dialog_message_user_changed:
        host.start_icon_thread();
        return 0;
    case dialog_message_icon:
        if (lparam == dialog_mouse_left_down) host.bring_up();
        return 0;
    default:
        return 0;
    }
}
