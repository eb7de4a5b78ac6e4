#include "console_keys.h"

#include <cctype>
#include <curses.h>

namespace {

struct key_row {
    int key;
    key_action action;
};

constexpr int control_c = 3;
constexpr int control_l = 12;
constexpr int escape = 27;

const key_row key_table[] = {
    {'\t', key_action::next},        {KEY_DOWN, key_action::next},       {KEY_RIGHT, key_action::next},
    {KEY_BTAB, key_action::previous}, {KEY_UP, key_action::previous},     {KEY_LEFT, key_action::previous},
    {' ', key_action::space},        {'\n', key_action::enter},          {'\r', key_action::enter},
    {KEY_ENTER, key_action::enter},  {escape, key_action::escape},       {control_c, key_action::interrupt},
    {control_l, key_action::redraw}, {KEY_RESIZE, key_action::redraw},
};

// Terminals that send Alt as the eighth bit.
constexpr int meta_bit = 0x80;

} // namespace

key_event classify_key(int key, bool alt)
{
    if (key >= meta_bit && key < 2 * meta_bit && std::isalnum(key - meta_bit)) return classify_key(key - meta_bit, true);
    if (key >= 0 && key < meta_bit && std::isalnum(key)) return {key_action::mnemonic, static_cast<char>(key)};
    if (!alt)
        for (const key_row& row : key_table)
            if (row.key == key) return {row.action, 0};
    return {key_action::none, 0};
}
