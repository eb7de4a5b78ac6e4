// The console dialog's geometry and keyboard rules, without a terminal.
#include <gtest/gtest.h>

#include <curses.h>
#include <set>
#include <string>
#include <utility>

#include "console_focus.h"
#include "console_keys.h"
#include "console_layout.h"
#include "console_template.h"
#include "control_dialog.h"
#include "service_table.h"

namespace {

using cell = std::pair<int, int>;

int index_of(int id) { return control_index(id); }

std::set<cell> outline_cells(const cell_box& box)
{
    std::set<cell> cells;
    for (int c = box.left; c <= box.right; ++c) cells.insert({box.top, c}), cells.insert({box.bottom, c});
    for (int r = box.top; r <= box.bottom; ++r) cells.insert({r, box.left}), cells.insert({r, box.right});
    return cells;
}

// What a control paints: its text, or the outline of a frame, or the area
// of the icon.
std::set<cell> painted(const template_control& control)
{
    std::set<cell> cells;
    if (control.kind == control_kind::group_box) return outline_cells(frame_box(control));
    if (control.kind == control_kind::icon) {
        const cell_box area = frame_box(control);
        for (int r = area.top; r <= area.bottom; ++r)
            for (int c = area.left; c <= area.right; ++c) cells.insert({r, c});
        return cells;
    }
    const cell_span span = text_span(control);
    for (int c = span.first_col; c <= span.last_col; ++c) cells.insert({span.row, c});
    return cells;
}

TEST(ConsoleLayout, EveryControlLiesInsideTheClientArea)
{
    for (const template_control& control : maindlg_controls) {
        const std::set<cell> cells = painted(control);
        ASSERT_FALSE(cells.empty()) << control.text;
        for (const cell& at : cells) {
            EXPECT_TRUE(at.first >= 0 && at.first < client_rows) << control.text << " row " << at.first;
            EXPECT_TRUE(at.second >= 0 && at.second < client_cols) << control.text << " col " << at.second;
        }
    }
}

// Rounding dialog units to cells must never put two controls, or a control
// and a frame line, on the same cell; only the two frames may share a line.
TEST(ConsoleLayout, NoTwoControlsShareACell)
{
    for (int a = 0; a < maindlg_control_count; ++a)
        for (int b = a + 1; b < maindlg_control_count; ++b) {
            const bool both_frames = maindlg_controls[a].kind == control_kind::group_box &&
                                     maindlg_controls[b].kind == control_kind::group_box;
            if (both_frames) continue;
            for (const cell& at : painted(maindlg_controls[a]))
                EXPECT_EQ(painted(maindlg_controls[b]).count(at), 0u)
                    << maindlg_controls[a].text << " and " << maindlg_controls[b].text << " at " << at.first << ","
                    << at.second;
        }
}

TEST(ConsoleLayout, ControlsSitInTheFramesTheTemplatePutsThemIn)
{
    const cell_box services = frame_box(maindlg_controls[index_of(IDC_FRAME)]);
    const cell_box options = frame_box(maindlg_controls[index_of(IDC_OPTIONS_FRAME)]);
    auto inside = [](const cell_span& span, const cell_box& box) {
        return span.row > box.top && span.row < box.bottom && span.first_col > box.left && span.last_col < box.right;
    };
    for (int id : {101, 102, 103, 104, 105, 106, 115, 114})
        EXPECT_TRUE(inside(text_span(maindlg_controls[index_of(id)]), services)) << id;
    for (int id : {110, 116}) EXPECT_TRUE(inside(text_span(maindlg_controls[index_of(id)]), options)) << id;
    for (int id : {108, 109, 111, 112}) EXPECT_GT(text_span(maindlg_controls[index_of(id)]).row, options.bottom) << id;
    // The two frames meet on one line, as the template's overlap draws them.
    EXPECT_EQ(services.bottom, options.top);
}

TEST(ConsoleLabels, AmpersandsMarkTheNextLetterAndDoubledOnesStandForThemselves)
{
    const plain_label discard = parse_label("&Di&scard (Port 9, TCP/UDP)");
    EXPECT_STREQ(discard.text, "Discard (Port 9, TCP/UDP)");
    for (int i = 0; i < discard.length; ++i) EXPECT_EQ(discard.marks[i], i == 0 || i == 2) << i;

    const plain_label stop = parse_label("&Stop all Services and E&xit");
    EXPECT_STREQ(stop.text, "Stop all Services and Exit");
    EXPECT_TRUE(stop.marks[0]);
    EXPECT_TRUE(stop.marks[23]);

    const plain_label literal = parse_label("A&&B &&&C");
    EXPECT_STREQ(literal.text, "A&B &C");
    for (int i = 0; i < literal.length; ++i) EXPECT_EQ(literal.marks[i], i == 5) << i;

    EXPECT_TRUE(label_has_mnemonic("Auto&Start", 's'));
    EXPECT_TRUE(label_has_mnemonic("Da&ytime", 'Y'));
    EXPECT_FALSE(label_has_mnemonic("Da&ytime", 'd'));
    EXPECT_FALSE(label_has_mnemonic("A&&B", 'b'));
}

// The boxes' labels come from velmora.rc; the flag each box stands for is
// the place of its service in the service table.
TEST(ConsoleTemplate, EachFlagHasACheckBoxOfItsOwnAndAServiceBoxNamesItsPort)
{
    std::set<int> ids;
    for (int flag = 0; flag < dialog_box_count; ++flag) {
        const int index = index_of(dialog_box_id(flag));
        ASSERT_GE(index, 0) << flag;
        const template_control& box = maindlg_controls[index];
        EXPECT_EQ(box.kind, control_kind::check_box) << box.text;
        ids.insert(box.id);
        std::string label;
        for (const char* c = box.text; *c != '\0'; ++c)
            if (*c != '&') label += *c;
        const std::string expected = flag < service_count ? "(Port " + std::to_string(service_table[flag].port) + ","
                                     : flag == selection_run_as_service_flag ? "Run as Service"
                                                                             : "AutoStart";
        EXPECT_NE(label.find(expected), std::string::npos) << label << " for flag " << flag;
    }
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(dialog_box_count));
}

TEST(ConsoleFocus, TabVisitsEveryEnabledControlOnceAndSkipsTheDisabledOnes)
{
    std::vector<int> visited;
    int focus = first_focus();
    EXPECT_EQ(maindlg_controls[focus].id, IDC_ECHO);
    for (int step = 0; step < 12; ++step) {
        visited.push_back(maindlg_controls[focus].id);
        focus = step_focus(focus, 1);
    }
    EXPECT_EQ(visited, (std::vector<int>{101, 102, 103, 104, 105, 106, 115, 110, 116, 108, 112, 111}));
    EXPECT_EQ(maindlg_controls[focus].id, IDC_ECHO);
    for (int i = 0; i < maindlg_control_count; ++i)
        if (takes_focus(i)) {
            EXPECT_EQ(step_focus(step_focus(i, 1), -1), i) << maindlg_controls[i].id;
        }
}

int id_at(int index) { return index < 0 ? -1 : maindlg_controls[index].id; }

TEST(ConsoleFocus, AUniqueMnemonicClicksItsControl)
{
    const int echo = index_of(IDC_ECHO);
    for (auto [letter, id] : std::initializer_list<std::pair<char, int>>{
             {'e', 101}, {'y', 103}, {'Q', 104}, {'c', 105}, {'a', 111}, {'x', 108}}) {
        const mnemonic_hit hit = find_mnemonic(echo, letter);
        EXPECT_EQ(id_at(hit.index), id) << letter;
        EXPECT_TRUE(hit.click) << letter;
    }
}

TEST(ConsoleFocus, ASharedMnemonicMovesTheFocusInTurnWithoutClicking)
{
    // 'd': "&Di&scard" and "&Discard changes"; "&DNS" is disabled.
    int focus = index_of(IDC_ECHO);
    std::vector<int> reached;
    for (int press = 0; press < 3; ++press) {
        const mnemonic_hit hit = find_mnemonic(focus, 'd');
        EXPECT_FALSE(hit.click);
        reached.push_back(id_at(hit.index));
        focus = hit.index;
    }
    EXPECT_EQ(reached, (std::vector<int>{102, 112, 102}));
    // 's': Stop, Discard's second mark, Run as Service and AutoStart.
    focus = index_of(IDC_ECHO);
    reached.clear();
    for (int press = 0; press < 4; ++press) {
        focus = find_mnemonic(focus, 's').index;
        reached.push_back(id_at(focus));
    }
    EXPECT_EQ(reached, (std::vector<int>{102, 110, 116, 108}));
}

TEST(ConsoleFocus, DisabledOrUnknownLettersReachNothing)
{
    EXPECT_EQ(find_mnemonic(index_of(IDC_ECHO), 'r').index, -1); // only "&Restart all Services"
    EXPECT_EQ(find_mnemonic(index_of(IDC_ECHO), 'z').index, -1);
}

TEST(ConsoleKeys, LettersAreMnemonicsPlainWithAltOrWithTheMetaBit)
{
    for (key_event event : {classify_key('t', false), classify_key('t', true), classify_key(0x80 | 't', false)}) {
        EXPECT_EQ(event.action, key_action::mnemonic);
        EXPECT_EQ(event.letter, 't');
    }
    EXPECT_EQ(classify_key(KEY_UP, true).action, key_action::none);
    EXPECT_EQ(classify_key(27, false).action, key_action::escape);
    EXPECT_EQ(classify_key(3, false).action, key_action::interrupt);
    EXPECT_EQ(classify_key(KEY_BTAB, false).action, key_action::previous);
    EXPECT_EQ(classify_key(KEY_F(1), false).action, key_action::none);
}

} // namespace
