// Where MAINDLG's controls fall on a terminal. The client area of 264 by 193
// dialog units becomes 78 by 22 cells, so that the dialog with its frame
// fills an 80 by 24 terminal; a dialog unit being a quarter of a character's
// width and an eighth of its height, that keeps the template's proportions.
#pragma once

#include "console_template.h"

inline constexpr int client_cols = 78;
inline constexpr int client_rows = 22;

// Nearest cell to a place in dialog units, 0 <= result <= client size.
int cell_col(int x);
int cell_row(int y);

// A row and a run of columns of the client area, both ends included.
struct cell_span {
    int row;
    int first_col;
    int last_col;
};

// A label without its '&' marks; `marks` flags the letters to underline.
inline constexpr int label_capacity = 80;
struct plain_label {
    char text[label_capacity];
    bool marks[label_capacity];
    int length;
};
plain_label parse_label(const char* marked);

// True when `letter` (either case) is one of the label's mnemonics.
bool label_has_mnemonic(const char* marked, char letter);

// The cells that a control's text occupies: "[x] label" for a check box,
// "[ label ]" centred in its width for a button, the label itself for a
// static text. Group boxes and icons have none (row -1).
cell_span text_span(const template_control& control);

// The column of the tick (check box) or the first letter (button) where the
// terminal's cursor rests while the control has the focus.
int focus_col(const template_control& control);

// Outline of a group box or the area of the icon: rows top..bottom, columns
// left..right, ends included. A group box's top line lies half a character
// below its top edge, where Windows draws it.
struct cell_box {
    int top, left, bottom, right;
};
cell_box frame_box(const template_control& control);
