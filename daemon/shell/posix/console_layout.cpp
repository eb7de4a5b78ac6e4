#include "console_layout.h"

#include <cctype>
#include <cstring>

namespace {

// Half a character in dialog units: where a group box draws its top line.
constexpr int half_char_height = 4;

int nearest(int units, int cells, int whole) { return (2 * units * cells + whole) / (2 * whole); }

int centre_row(const template_control& control) { return cell_row(control.y + control.height / 2); }

} // namespace

int cell_col(int x) { return nearest(x, client_cols, maindlg_width); }

int cell_row(int y) { return nearest(y, client_rows, maindlg_height); }

plain_label parse_label(const char* marked)
{
    plain_label label{};
    bool marking = false;
    for (const char* p = marked; *p != '\0' && label.length < label_capacity - 1; ++p) {
        // "&&" stands for one '&'; a single '&' marks the next letter.
        if (*p == '&' && !marking) {
            marking = true;
            continue;
        }
        label.marks[label.length] = marking && *p != '&';
        label.text[label.length++] = *p;
        marking = false;
    }
    label.text[label.length] = '\0';
    return label;
}

bool label_has_mnemonic(const char* marked, char letter)
{
    const plain_label label = parse_label(marked);
    const int wanted = std::tolower(static_cast<unsigned char>(letter));
    for (int i = 0; i < label.length; ++i)
        if (label.marks[i] && std::tolower(static_cast<unsigned char>(label.text[i])) == wanted) return true;
    return false;
}

cell_span text_span(const template_control& control)
{
    const int length = parse_label(control.text).length;
    const int left = cell_col(control.x);
    switch (control.kind) {
    case control_kind::check_box:
        return {centre_row(control), left, left + 4 + length - 1};
    case control_kind::push_button: {
        const int right = cell_col(control.x + control.width) - 1;
        const int width = length + 4;
        const int first = left + (right - left + 1 - width) / 2;
        return {centre_row(control), first, first + width - 1};
    }
    case control_kind::static_text:
        return {centre_row(control), left, left + length - 1};
    default:
        return {-1, 0, -1};
    }
}

int focus_col(const template_control& control)
{
    const cell_span span = text_span(control);
    return control.kind == control_kind::check_box ? span.first_col + 1 : span.first_col + 2;
}

cell_box frame_box(const template_control& control)
{
    if (control.kind == control_kind::group_box)
        return {cell_row(control.y + half_char_height), cell_col(control.x), cell_row(control.y + control.height),
                cell_col(control.x + control.width)};
    return {cell_row(control.y), cell_col(control.x), cell_row(control.y + control.height) - 1,
            cell_col(control.x + control.width) - 1};
}
