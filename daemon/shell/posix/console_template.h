// MAINDLG as the console draws it: the controls of the Windows template, in
// template (tab) order, with their places in dialog units. The controls,
// the size and the caption are read from velmora.rc when the build is
// configured (cmake/dialog_template.cmake).
#pragma once

enum class control_kind { push_button, check_box, static_text, group_box, icon };

struct template_control {
    int id; // 0 where the template gives none
    control_kind kind;
    const char* text; // with '&' before each mnemonic letter
    int x, y, width, height;
    bool disabled;
    bool tab_stop;
};

// maindlg_width, maindlg_height, maindlg_caption, maindlg_control_count
// and maindlg_controls.
#include "maindlg_template.h"

// Index of the control with `id` in maindlg_controls, -1 when there is none.
int control_index(int id);
