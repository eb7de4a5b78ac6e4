// Draws MAINDLG on the curses screen, centred, as console_layout places it.
#pragma once

#include <string>

#include "console_template.h"

struct dialog_view {
    bool checked[maindlg_control_count];
    int focus;             // index of the control with the focus
    int held_lines;        // output waiting until the dialog hides
    std::string held_box;  // the latest box among it, "" when none
};

inline constexpr int dialog_screen_cols = 80;
inline constexpr int dialog_screen_rows = 24;

void draw_dialog(const dialog_view& view);
