#include "console_focus.h"

#include "console_layout.h"
#include "console_template.h"

bool takes_focus(int index)
{
    const template_control& control = maindlg_controls[index];
    const bool clickable = control.kind == control_kind::push_button || control.kind == control_kind::check_box;
    return clickable && control.tab_stop && !control.disabled;
}

int first_focus()
{
    for (int i = 0; i < maindlg_control_count; ++i)
        if (takes_focus(i) && maindlg_controls[i].kind == control_kind::check_box) return i;
    return step_focus(-1, 1);
}

int step_focus(int from, int step)
{
    int index = from;
    for (int tries = 0; tries < maindlg_control_count; ++tries) {
        index = (index + step + maindlg_control_count) % maindlg_control_count;
        if (takes_focus(index)) return index;
    }
    return from;
}

mnemonic_hit find_mnemonic(int focus, char letter)
{
    int found = -1;
    int count = 0;
    for (int offset = 1; offset <= maindlg_control_count; ++offset) {
        const int index = (focus + offset) % maindlg_control_count;
        if (maindlg_controls[index].disabled || !label_has_mnemonic(maindlg_controls[index].text, letter)) continue;
        if (found < 0) found = index;
        ++count;
    }
    return {found, count == 1};
}
