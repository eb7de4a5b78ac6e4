// The control dialog's message table, driven through a host that writes
// down what the table asks of the window. The settings file lies beside the
// test program, which CTest runs from a fresh copy in a temporary folder.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "control_dialog.h"
#include "fake_host.h"
#include "settings_file.h"
#include "settings_image.h"
#include "test_files.h"

namespace {

using calls = std::vector<std::string>;

constexpr unsigned wm_paint = 0x000F, wm_destroy = 0x0002, wm_syscommand = 0x0112, wm_timer = 0x0113;
constexpr unsigned wm_mousemove = 0x0200, wm_lbuttonup = 0x0202, wm_lbuttondblclk = 0x0203,
                   wm_rbuttondown = 0x0204, wm_rbuttonup = 0x0205;
constexpr int id_ok = 1, id_cancel = 2;

// The pair order: check box ids against echo_on ... auto_start.
const int pair_ids[10] = {101, 102, 103, 104, 105, 106, 115, 114, 110, 116};

std::string cfg_path() { return settings_file_path(); }

calls checks_of(const std::uint32_t (&states)[10])
{
    calls expected;
    for (int i = 0; i < 10; ++i) expected.push_back("check " + std::to_string(pair_ids[i]) + " " + std::to_string(states[i]));
    return expected;
}

calls reads_in_pair_order()
{
    calls expected;
    for (int id : pair_ids) expected.push_back("is_checked " + std::to_string(id));
    return expected;
}

calls joined(calls first, const calls& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// A record in which each pair that the table could mix up (time and DNS,
// service and autostart) differs, with one flag set to a value other than 1.
ServiceSelection marked_record()
{
    const std::uint32_t flags[10] = {1, 0, 1, 0, 7, 1, 0, 1, 0, 1}; // chargen_on is 7
    ServiceSelection record{};
    record.format_version = 256;
    for (int i = 0; i < 10; ++i) record.flags[i] = flags[i];
    return record;
}
constexpr std::uint32_t marked_states[10] = {1, 0, 1, 0, 1, 1, 0, 1, 0, 1};

class DialogProc : public ::testing::Test {
protected:
    void SetUp() override
    {
        reset_fake_host();
        host_choice = ServiceSelection{};
        ::unlink(cfg_path().c_str());
    }
    void TearDown() override { ::unlink(cfg_path().c_str()); }

    static std::intptr_t send_to_dialog(unsigned message, std::uintptr_t wparam = 0, std::intptr_t lparam = 0)
    {
        return control_dialog_proc(fake_host, &host_choice, message, wparam, lparam);
    }
    static void tick(const std::vector<std::uint32_t>& states)
    {
        for (int i = 0; i < 10; ++i) host_boxes[pair_ids[i]] = static_cast<int>(states[i]);
    }
};

TEST_F(DialogProc, InitialisationSetsTheTenBoxesFromTheRecordInPairOrder)
{
    host_choice = marked_record();
    EXPECT_EQ(send_to_dialog(dialog_message_init), 1);
    EXPECT_EQ(host_calls, checks_of(marked_states));
}

TEST_F(DialogProc, ApplyReadsTheBoxesSavesRestartsAndQuits)
{
    const std::vector<std::uint32_t> ticked = {0, 1, 0, 1, 0, 0, 1, 0, 1, 1};
    tick(ticked);
    host_choice = marked_record();
    EXPECT_EQ(send_to_dialog(dialog_message_command, IDC_APPLY), 0);
    EXPECT_EQ(host_calls, joined(reads_in_pair_order(), {"autostart 1", "new_instance", "post_quit 0"}));
    EXPECT_EQ(read_bytes(cfg_path()), settings_image(256, ticked));
}

TEST_F(DialogProc, ApplyWithAutostartClearedRemovesTheEntry)
{
    const std::vector<std::uint32_t> ticked = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    tick(ticked);
    send_to_dialog(dialog_message_command, IDC_APPLY);
    EXPECT_EQ(host_calls, joined(reads_in_pair_order(), {"autostart 0", "new_instance", "post_quit 0"}));
}

TEST_F(DialogProc, ApplyOverwritesOnlyTheFirst44BytesOfALongerFile)
{
    ASSERT_TRUE(write_file(cfg_path(), std::vector<unsigned char>(60, 0xEE)));
    const std::vector<std::uint32_t> ticked = {1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    tick(ticked);
    send_to_dialog(dialog_message_command, IDC_APPLY);
    std::vector<unsigned char> expected = settings_image(256, ticked);
    expected.resize(60, 0xEE);
    EXPECT_EQ(read_bytes(cfg_path()), expected);
}

// Whatever the box of a flag is, initialising and applying at once must
// write the loaded record back: the disabled DNS box relies on it.
TEST_F(DialogProc, ApplyRightAfterInitialisationWritesTheLoadedRecordBack)
{
    host_choice = marked_record();
    send_to_dialog(dialog_message_init);
    host_choice = ServiceSelection{};
    send_to_dialog(dialog_message_command, IDC_APPLY);
    EXPECT_EQ(read_bytes(cfg_path()), settings_image(256, {1, 0, 1, 0, 1, 1, 0, 1, 0, 1}));
    EXPECT_EQ(host_choice.flags[7], 1u);
    EXPECT_EQ(host_choice.format_version, 256u);
}

TEST_F(DialogProc, FailedRestartSavesShowsTheBoxAndKeepsRunning)
{
    host_restart_works = false;
    const std::vector<std::uint32_t> ticked = {1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    tick(ticked);
    testing::internal::CaptureStderr();
    send_to_dialog(dialog_message_command, IDC_APPLY);
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_EQ(host_calls, joined(reads_in_pair_order(), {"autostart 0", "new_instance"}));
    EXPECT_EQ(shown.rfind("Velmora V1.0: ", 0), 0u) << shown;
    EXPECT_EQ(read_bytes(cfg_path()), settings_image(256, ticked));
}

// A settings file that cannot hold the record: a folder does not open for
// writing, a pipe would take the bytes and keep none, and a link that leads
// out of its folder (to /dev/null here) is not followed. The
// box says why, autostart is left alone, nothing restarts, and the record
// stays the choice in force, which Discard puts back into the boxes.
TEST_F(DialogProc, UnsavableFileShowsWhyAndKeepsThisInstanceAndItsChoice)
{
    const std::string path = cfg_path();
    const std::string not_plain = "It is not a plain file but a folder, pipe or device.";
    struct unsavable {
        const char* kind;
        int (*make)(const char* path);
        std::string reason;
    };
    const unsavable cases[] = {
        {"a folder", [](const char* p) { return ::mkdir(p, 0755); }, "Error Nr: " + std::to_string(EISDIR)},
        {"a pipe", [](const char* p) { return ::mkfifo(p, 0644); }, not_plain},
        // A link is followed only within its own folder (and /etc/velmora).
        {"a link to a pipe beside it",
         [](const char* p) { return ::mkfifo((std::string(p) + ".pipe").c_str(), 0644) | ::symlink("VELMORA.CFG.pipe", p); },
         not_plain},
        {"a link to /dev/null", [](const char* p) { return ::symlink("/dev/null", p); },
         "It is a link that leads out of its own folder and /etc/velmora."},
    };
    for (const unsavable& c : cases) {
        SCOPED_TRACE(c.kind);
        reset_fake_host();
        host_choice = marked_record();
        ASSERT_EQ(c.make(path.c_str()), 0);
        tick({0, 1, 0, 1, 0, 0, 1, 0, 1, 0});
        testing::internal::CaptureStderr();
        send_to_dialog(dialog_message_command, IDC_APPLY);
        const std::string shown = testing::internal::GetCapturedStderr();
        std::remove(path.c_str());
        std::remove((path + ".pipe").c_str());

        EXPECT_EQ(host_calls, reads_in_pair_order());
        EXPECT_EQ(shown, "Velmora V1.0: The selection could not be saved to\n" + path + "\n" + c.reason +
                             "\nVelmora goes on with the services it runs now and was not restarted.\n");
        host_calls.clear();
        send_to_dialog(dialog_message_command, IDC_DISCARD_CHANGES);
        EXPECT_EQ(host_calls, joined(checks_of(marked_states), {"minimize"}));
    }
}

TEST_F(DialogProc, StopClosesThenPostsQuitWithoutSaving)
{
    EXPECT_EQ(send_to_dialog(dialog_message_command, IDC_STOP), 0);
    EXPECT_EQ(host_calls, (calls{"close", "post_quit 0"}));
    EXPECT_TRUE(read_bytes(cfg_path()).empty());
}

TEST_F(DialogProc, DiscardResetsTheBoxesFromTheRecordThenMinimisesAndSoHides)
{
    host_minimize_sends_size = true;
    host_choice = marked_record();
    tick({0, 1, 0, 1, 0, 0, 1, 0, 1, 0});
    EXPECT_EQ(send_to_dialog(dialog_message_command, IDC_DISCARD_CHANGES), 0);
    EXPECT_EQ(host_calls, joined(checks_of(marked_states), {"minimize", "hide"}));
    EXPECT_TRUE(read_bytes(cfg_path()).empty());
}

TEST_F(DialogProc, CloseBoxMinimisesAndSoHidesWithoutEnding)
{
    host_minimize_sends_size = true;
    EXPECT_EQ(send_to_dialog(dialog_message_close), 0);
    EXPECT_EQ(host_calls, (calls{"minimize", "hide"}));
}

TEST_F(DialogProc, OnlyTheMinimisedSizeKindHides)
{
    constexpr std::uintptr_t size_restored = 0, size_maximized = 2, size_maxshow = 3, size_maxhide = 4;
    for (std::uintptr_t kind : {size_restored, size_maximized, size_maxshow, size_maxhide})
        EXPECT_EQ(send_to_dialog(dialog_message_size, kind), 0);
    EXPECT_TRUE(host_calls.empty());
    EXPECT_EQ(send_to_dialog(dialog_message_size, dialog_size_minimized), 0);
    EXPECT_EQ(host_calls, (calls{"hide"}));
}

TEST_F(DialogProc, CommandTakesTheControlIdFromTheLowWordOnly)
{
    send_to_dialog(dialog_message_command, (5u << 16) | IDC_STOP);
    EXPECT_EQ(host_calls, (calls{"close", "post_quit 0"}));
    host_calls.clear();
    // A button's id in the high word is a notification code, not a control.
    send_to_dialog(dialog_message_command, (static_cast<std::uintptr_t>(IDC_STOP) << 16) | IDC_ECHO);
    send_to_dialog(dialog_message_command, (static_cast<std::uintptr_t>(IDC_APPLY) << 16) | IDC_ECHO);
    EXPECT_TRUE(host_calls.empty());
}

TEST_F(DialogProc, OtherControlIdsDoNothing)
{
    // Box clicks, the disabled restart button, the frames, and the ids
    // Enter and Esc give in a Windows dialog.
    for (int id : {101, 102, 103, 104, 105, 106, 107, 109, 110, 113, 114, 115, 116, id_ok, id_cancel, 0, 0xFFFF})
        EXPECT_EQ(send_to_dialog(dialog_message_command, static_cast<std::uintptr_t>(id)), 0) << id;
    EXPECT_TRUE(host_calls.empty());
}

TEST_F(DialogProc, IconBringsTheDialogUpOnlyOnTheLeftPress)
{
    for (unsigned mouse : {wm_mousemove, wm_lbuttonup, wm_lbuttondblclk, wm_rbuttondown, wm_rbuttonup})
        EXPECT_EQ(send_to_dialog(dialog_message_icon, 1, mouse), 0) << mouse;
    EXPECT_TRUE(host_calls.empty());
    // The icon id in the first parameter is not looked at.
    EXPECT_EQ(send_to_dialog(dialog_message_icon, 1, dialog_mouse_left_down), 0);
    EXPECT_EQ(send_to_dialog(dialog_message_icon, 42, dialog_mouse_left_down), 0);
    EXPECT_EQ(host_calls, (calls{"bring_up", "bring_up"}));
}

TEST_F(DialogProc, EndSessionIsHandledAndDoesNothing)
{
    EXPECT_EQ(send_to_dialog(dialog_message_end_session, 1), 1);
    EXPECT_TRUE(host_calls.empty());
}

TEST_F(DialogProc, UserChangedStartsAnotherIconThread)
{
    EXPECT_EQ(send_to_dialog(dialog_message_user_changed), 0);
    EXPECT_EQ(host_calls, (calls{"icon_thread"}));
}

TEST_F(DialogProc, OtherMessagesDoNothing)
{
    for (unsigned message : {wm_paint, wm_destroy, wm_syscommand, wm_timer, dialog_mouse_left_down})
        EXPECT_EQ(send_to_dialog(message, IDC_STOP, dialog_mouse_left_down), 0) << message;
    EXPECT_TRUE(host_calls.empty());
}

} // namespace
