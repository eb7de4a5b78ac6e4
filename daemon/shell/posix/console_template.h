// MAINDLG as the console draws it: the controls of the Windows template, in
// template (tab) order, with their places in dialog units.
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

inline constexpr int maindlg_width = 264;
inline constexpr int maindlg_height = 193;
inline constexpr const char* maindlg_caption = "Velmora V1.0";

inline constexpr int maindlg_control_count = 18;
extern const template_control maindlg_controls[maindlg_control_count];

// Index of the control with `id` in maindlg_controls, -1 when there is none.
int control_index(int id);
