#include "console_screen.h"

#include <cstdio>
#include <curses.h>

#include "console_layout.h"

namespace {

// Line-drawing cells are built up from the directions a line leaves them in,
// so that where the two group boxes share a line their corners become tees.
constexpr unsigned go_up = 1, go_down = 2, go_left = 4, go_right = 8;

constexpr int grid_rows = dialog_screen_rows;
constexpr int grid_cols = dialog_screen_cols;

const char help_text[] = " Tab/arrows move  Space ticks  Enter presses  Esc closes  Ctrl-C stops ";

chtype line_char(unsigned directions)
{
    const chtype table[16] = {
        ' ',           ACS_VLINE,    ACS_VLINE,    ACS_VLINE,    ACS_HLINE,    ACS_LRCORNER, ACS_URCORNER, ACS_RTEE,
        ACS_HLINE,     ACS_LLCORNER, ACS_ULCORNER, ACS_LTEE,     ACS_HLINE,    ACS_BTEE,     ACS_TTEE,     ACS_PLUS,
    };
    return table[directions & 15];
}

struct line_grid {
    unsigned cell[grid_rows][grid_cols];
};

void add_outline(line_grid& grid, int top, int left, int bottom, int right)
{
    if (top < 0 || left < 0 || bottom >= grid_rows || right >= grid_cols || top >= bottom || left >= right) return;
    for (int c = left; c <= right; ++c) {
        const unsigned across = (c > left ? go_left : 0) | (c < right ? go_right : 0);
        grid.cell[top][c] |= across;
        grid.cell[bottom][c] |= across;
    }
    for (int r = top; r <= bottom; ++r) {
        const unsigned along = (r > top ? go_up : 0) | (r < bottom ? go_down : 0);
        grid.cell[r][left] |= along;
        grid.cell[r][right] |= along;
    }
}

void draw_lines(const line_grid& grid, int origin_row, int origin_col)
{
    for (int r = 0; r < grid_rows; ++r)
        for (int c = 0; c < grid_cols; ++c)
            if (grid.cell[r][c] != 0) mvaddch(origin_row + r, origin_col + c, line_char(grid.cell[r][c]));
}

// Writes a marked label, underlining its mnemonic letters.
void add_label(const char* marked, attr_t base)
{
    const plain_label label = parse_label(marked);
    for (int i = 0; i < label.length; ++i)
        addch(static_cast<unsigned char>(label.text[i]) | base | (label.marks[i] ? A_UNDERLINE : 0));
}

attr_t control_attributes(const template_control& control, bool focused)
{
    return (control.disabled ? A_DIM : 0) | (focused ? A_REVERSE : 0);
}

void draw_check_box(const template_control& control, bool checked, bool focused, int row, int col)
{
    const cell_span span = text_span(control);
    const attr_t base = control_attributes(control, false);
    move(row + span.row, col + span.first_col);
    attrset(base);
    addstr(checked ? "[x] " : "[ ] ");
    attrset(A_NORMAL);
    add_label(control.text, control_attributes(control, focused));
}

void draw_button(const template_control& control, bool focused, int row, int col)
{
    const cell_span span = text_span(control);
    const attr_t base = control_attributes(control, focused);
    move(row + span.row, col + span.first_col);
    attrset(base);
    addstr("[ ");
    add_label(control.text, base);
    attrset(base);
    addstr(" ]");
    attrset(A_NORMAL);
}

void draw_static(const template_control& control, int row, int col)
{
    const cell_span span = text_span(control);
    move(row + span.row, col + span.first_col);
    add_label(control.text, A_NORMAL);
}

// MAINICON has no picture on a terminal; a small V marks its place.
void draw_icon(const template_control& control, int row, int col)
{
    const cell_box area = frame_box(control);
    const char* mark[] = {"\\ V /", " \\_/ "};
    const int width = area.right - area.left + 1;
    for (int r = 0; r < 2 && area.top + r <= area.bottom; ++r)
        mvaddstr(row + area.top + r, col + area.left + (width - 5) / 2, mark[r]);
}

void draw_border_texts(const dialog_view& view, int top, int left)
{
    mvaddstr(top, left + 2, " ");
    attrset(A_BOLD);
    addstr(maindlg_caption);
    attrset(A_NORMAL);
    addstr(" ");
    char note[grid_cols];
    if (view.held_lines > 0 && view.held_box.empty()) {
        std::snprintf(note, sizeof note, " %d line%s held back until the dialog closes ", view.held_lines,
                      view.held_lines == 1 ? "" : "s");
    } else if (view.held_lines > 0) {
        const int n = std::snprintf(note, sizeof note, " %d line%s held back: %s ", view.held_lines,
                                    view.held_lines == 1 ? "" : "s", view.held_box.c_str());
        if (n >= grid_cols - 4) std::snprintf(note + grid_cols - 9, 5, "... ");
    } else {
        std::snprintf(note, sizeof note, "%s", help_text);
    }
    mvaddnstr(top + grid_rows - 1, left + 2, note, grid_cols - 4);
}

} // namespace

void draw_dialog(const dialog_view& view)
{
    erase();
    if (LINES < grid_rows || COLS < grid_cols) {
        mvprintw(0, 0, "%s: the control dialog needs a terminal of %dx%d (this one is %dx%d). Esc closes it.",
                 maindlg_caption, grid_cols, grid_rows, COLS, LINES);
        refresh();
        return;
    }
    const int top = (LINES - grid_rows) / 2;
    const int left = (COLS - grid_cols) / 2;
    const int row = top + 1;
    const int col = left + 1;

    line_grid grid{};
    add_outline(grid, 0, 0, grid_rows - 1, grid_cols - 1);
    for (const template_control& control : maindlg_controls) {
        if (control.kind != control_kind::group_box) continue;
        const cell_box frame = frame_box(control);
        add_outline(grid, frame.top + 1, frame.left + 1, frame.bottom + 1, frame.right + 1);
    }
    draw_lines(grid, top, left);
    draw_border_texts(view, top, left);

    for (int i = 0; i < maindlg_control_count; ++i) {
        const template_control& control = maindlg_controls[i];
        const bool focused = i == view.focus;
        switch (control.kind) {
        case control_kind::check_box:
            draw_check_box(control, view.checked[i], focused, row, col);
            break;
        case control_kind::push_button:
            draw_button(control, focused, row, col);
            break;
        case control_kind::static_text:
            draw_static(control, row, col);
            break;
        case control_kind::icon:
            draw_icon(control, row, col);
            break;
        case control_kind::group_box:
            break;
        }
    }
    const template_control& focused = maindlg_controls[view.focus];
    move(row + text_span(focused).row, col + focus_col(focused));
    refresh();
}
