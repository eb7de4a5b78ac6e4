// velmoractl run as a program, as an administrator would, against settings
// files in a scratch folder: what it shows, what it writes, what it refuses
// (changing nothing then), and its exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "program_run.h"
#include "settings_image.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t nobody = 65534;

using bytes = std::vector<unsigned char>;

const char table_of_echo_chargen_dns_autostart[] = "service    port  state\n"
                                                   "echo          7  on\n"
                                                   "discard       9  off\n"
                                                   "daytime      13  off\n"
                                                   "quote        17  off\n"
                                                   "chargen      19  on\n"
                                                   "telnet       23  off\n"
                                                   "time         37  off\n"
                                                   "dns          53  on\n"
                                                   "\n"
                                                   "run-as-service   off\n"
                                                   "autostart        on\n";

class Velmoractl : public ::testing::Test {
protected:
    // A copy beside its own settings file, as installed beside Velmora.
    void SetUp() override { ASSERT_TRUE(scratch_copy(&command, VELMORACTL_PROGRAM, "bin/velmoractl")); }
    void TearDown() override { program_discard(&command); }

    fs::path folder() const { return command.folder; }
    fs::path beside() const { return folder() / "bin" / "VELMORA.CFG"; }
    fs::path other() const { return folder() / "other.cfg"; }

    // Runs the program, as `user` (0: as the test runs).
    program_result run(const std::vector<std::string>& arguments, uid_t user = 0)
    {
        return run_to_end(command.program, {.arguments = arguments, .user = user}, 10000);
    }

    // The names in a folder, sorted.
    std::vector<std::string> names_in(const fs::path& where) const
    {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(where)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    program_run command;
};

} // namespace

TEST_F(Velmoractl, ShowsTheFileBesideItselfAsATable)
{
    write_file(beside(), settings_image(256, {1, 0, 0, 0, 1, 0, 0, 1, 0, 1}));
    const program_result shown = run({});
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.output, "Settings file: " + beside().string() + "\n\n" + table_of_echo_chargen_dns_autostart);
    EXPECT_EQ(shown.errors, "");

    // --file names another file; the one beside it is not looked at.
    write_file(other(), settings_image(256, {0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
    const program_result other_file = run({"--file", other().string()});
    EXPECT_EQ(other_file.status, 0);
    EXPECT_NE(other_file.output.find("Settings file: " + other().string() + "\n"), std::string::npos);
    EXPECT_NE(other_file.output.find("echo          7  off\n"), std::string::npos);
    EXPECT_NE(other_file.output.find("run-as-service   on\n"), std::string::npos);
}

TEST_F(Velmoractl, ShowSaysWhatVelmoraMakesOfAFileWithoutARecord)
{
    const program_result missing = run({});
    EXPECT_EQ(missing.status, 0);
    EXPECT_NE(missing.output.find("does not exist: Velmora runs no service"), std::string::npos) << missing.output;

    write_file(beside(), bytes(10, 1));
    const program_result short_file = run({});
    EXPECT_EQ(short_file.status, 1);
    EXPECT_EQ(short_file.output, "");
    EXPECT_EQ(short_file.errors, "velmoractl: " + beside().string() +
                                     " holds 10 bytes, fewer than the 44 of a settings file.\n"
                                     "Velmora ignores it and runs no service.\n");

    write_file(beside(), settings_image(257, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    const program_result foreign = run({});
    EXPECT_EQ(foreign.status, 1);
    EXPECT_NE(foreign.errors.find("is a settings file of version 257, not 256."), std::string::npos) << foreign.errors;

    fs::remove(beside());
    ASSERT_EQ(::mkfifo(beside().c_str(), 0644), 0);
    const program_result pipe = run({});
    EXPECT_EQ(pipe.status, 1);
    EXPECT_NE(pipe.errors.find("is not a plain file"), std::string::npos) << pipe.errors;
}

TEST_F(Velmoractl, SetChangesTheNamedFlagsInPlaceAndTheTailStays)
{
    bytes file = settings_image(256, {1, 1, 0, 0, 0, 0, 0, 1, 0, 0});
    const std::string tail = "a tail that is not Velmora's";
    file.insert(file.end(), tail.begin(), tail.end());
    write_file(beside(), file);

    const program_result set = run({"set", "discard", "off", "chargen", "on", "autostart", "on", "echo", "on"});
    EXPECT_EQ(set.status, 0) << set.errors;
    bytes expected = settings_image(256, {1, 0, 0, 0, 1, 0, 0, 1, 0, 1});
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(read_bytes(beside()), expected);
    EXPECT_EQ(set.output, "Settings file: " + beside().string() + "\n\n" + table_of_echo_chargen_dns_autostart +
                              "\nSaved. Velmora reads the file when it starts; to apply the change now:\n"
                              "  systemctl restart velmora\n"
                              "A Velmora started by hand must be ended (Ctrl-C) and started again.\n");
    // Nothing is left beside it but the lock file that every writer takes.
    EXPECT_EQ(names_in(folder() / "bin"), (std::vector<std::string>{"VELMORA.CFG", "VELMORA.CFG.lock", "velmoractl"}));
}

TEST_F(Velmoractl, SetCreatesAMissingFileOfExactlyFortyFourBytes)
{
    const program_result set = run({"--file", other().string(), "set", "dns", "on", "run-as-service", "on"});
    EXPECT_EQ(set.status, 0) << set.errors;
    EXPECT_EQ(read_bytes(other()), settings_image(256, {0, 0, 0, 0, 0, 0, 0, 1, 1, 0}));
    EXPECT_EQ(names_in(folder()), (std::vector<std::string>{"bin", "other.cfg", "other.cfg.lock"}));
}

TEST_F(Velmoractl, WrongCommandLinesChangeNothing)
{
    const bytes before = settings_image(256, {1, 0, 1, 0, 1, 0, 1, 0, 1, 0});
    write_file(beside(), before);
    struct wrong {
        std::vector<std::string> arguments;
        std::string says;
    };
    const wrong cases[] = {
        {{"set", "echo", "on", "ftp", "on"}, "velmoractl: unknown name \"ftp\"; the names are echo discard daytime "
                                             "quote chargen telnet time dns run-as-service autostart\n"},
        {{"set", "echo", "yes"}, "velmoractl: \"yes\" is neither on nor off\n"},
        {{"set", "echo", "off", "time"}, "velmoractl: time needs on or off after it\n"},
        {{"set"}, "velmoractl: set needs NAME on|off\n"},
        {{"show"}, "velmoractl: unknown command \"show\"\n"},
        {{"--file"}, "velmoractl: --file needs a PATH\n"},
    };
    for (const wrong& c : cases) {
        SCOPED_TRACE(c.arguments.front() + " ... " + c.arguments.back());
        const program_result result = run(c.arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(result.errors, c.says + "See velmoractl --help.\n");
        EXPECT_EQ(read_bytes(beside()), before);
    }

    // Nor is a missing file made.
    fs::remove(beside());
    EXPECT_EQ(run({"set", "echo", "maybe"}).status, 2);
    EXPECT_FALSE(fs::exists(beside()));
}

TEST_F(Velmoractl, FilesItCannotChangeAreLeftAsTheyAre)
{
    const bytes short_file(43, 0);
    write_file(beside(), short_file);
    program_result result = run({"set", "echo", "on"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("holds 43 bytes"), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("Nothing was changed.\n"), std::string::npos) << result.errors;
    EXPECT_EQ(read_bytes(beside()), short_file);

    const bytes foreign = settings_image(512, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    write_file(beside(), foreign);
    result = run({"set", "echo", "on"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("of version 512, not 256"), std::string::npos) << result.errors;
    EXPECT_EQ(read_bytes(beside()), foreign);

    // Root writes any file whatever its mode; nobody does not.
    const bytes readable = settings_image(256, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    write_file(beside(), readable);
    ASSERT_EQ(::chmod(beside().c_str(), 0444), 0);
    result = run({"set", "echo", "on"}, nobody);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.errors, "velmoractl: the selection could not be saved to " + beside().string() +
                                 ".\nError Nr: " + std::to_string(EACCES) + "\n");
    EXPECT_EQ(read_bytes(beside()), readable);
}

// The Debian package links VELMORA.CFG beside the program to /etc/velmora:
// a save writes the file the link leads to and keeps the link, also when it
// makes that file anew (through a temporary file and a rename, which would
// otherwise replace the link). A link that leads out of its own folder (and
// /etc/velmora) is refused and nothing changes.
TEST_F(Velmoractl, ALinkIsWrittenWhereItLeadsAndOnlyInsideItsFolder)
{
    const fs::path real = folder() / "bin" / "kept.cfg";
    fs::create_symlink("kept.cfg", beside());
    program_result result = run({"set", "dns", "on"});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_TRUE(fs::is_symlink(beside()));
    EXPECT_EQ(read_bytes(real), settings_image(256, {0, 0, 0, 0, 0, 0, 0, 1, 0, 0}));
    result = run({"set", "echo", "on"});
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_TRUE(fs::is_symlink(beside()));
    EXPECT_EQ(read_bytes(real), settings_image(256, {1, 0, 0, 0, 0, 0, 0, 1, 0, 0}));
    // The lock lies beside the file the link leads to.
    EXPECT_EQ(names_in(folder() / "bin"),
              (std::vector<std::string>{"VELMORA.CFG", "kept.cfg", "kept.cfg.lock", "velmoractl"}));

    const bytes elsewhere = settings_image(256, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    write_file(other(), elsewhere);
    fs::remove(beside());
    fs::create_symlink(other(), beside());
    result = run({"set", "echo", "on"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errors, "velmoractl: the selection could not be saved to " + beside().string() +
                                 ".\nIt is a link that leads out of its own folder and /etc/velmora.\n");
    EXPECT_EQ(read_bytes(other()), elsewhere);
    EXPECT_FALSE(fs::exists(other().string() + ".lock"));
    EXPECT_TRUE(fs::is_symlink(beside()));
}

TEST_F(Velmoractl, HelpTellsTheCommandLineAndWhatAutostartDoesNot)
{
    const program_result help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.output.rfind("Usage: velmoractl [--file PATH]\n", 0), 0u) << help.output;
    EXPECT_NE(help.output.find("set NAME on|off"), std::string::npos);
    EXPECT_NE(help.output.find("The autostart flag only records the choice"), std::string::npos);
    EXPECT_EQ(help.errors, "");
}

// Eight velmoractl at once, each setting another flag: every change is
// kept, and each exit status is true (0: its change is in the file; 1: the
// file is as it was before it).
TEST_F(Velmoractl, ConcurrentWritersLoseNoChange)
{
    const char* const names[] = {"echo", "discard", "daytime", "quote", "chargen", "telnet", "time", "dns"};
    for (int trial = 0; trial < 15; ++trial) {
        SCOPED_TRACE("trial " + std::to_string(trial));
        write_file(beside(), settings_image(256, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
        std::vector<program_run> writers(8);
        for (int i = 0; i < 8; ++i) {
            writers[static_cast<std::size_t>(i)].program = command.program;
            ASSERT_TRUE(program_start(&writers[static_cast<std::size_t>(i)],
                                      {.arguments = {"set", names[i], "on"},
                                       .output = {stream_kind::null_device},
                                       .errors = {stream_kind::null_device}}));
        }
        std::vector<std::uint32_t> expected(10, 0);
        for (int i = 0; i < 8; ++i) {
            program_run& writer = writers[static_cast<std::size_t>(i)];
            const int status = program_wait(&writer, 15000);
            EXPECT_EQ(status, 0) << names[i];
            if (status == 0) expected[static_cast<std::size_t>(i)] = 1;
            program_discard(&writer);
        }
        EXPECT_EQ(read_bytes(beside()), settings_image(256, expected));
    }
}

// A link to a file outside swapped in and out of VELMORA.CFG's place
// (RENAME_EXCHANGE: at every moment the name is one or the other) while
// velmoractl saves again and again: whatever each save does, the outside
// file is never written, and nothing new appears beside it.
TEST_F(Velmoractl, ALinkSwappedInDuringASaveLeadsItNowhereElse)
{
    fs::create_directory(folder() / "outside");
    const fs::path outside = folder() / "outside" / "victim.cfg";
    const bytes victim = settings_image(256, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    write_file(outside, victim);
    write_file(beside(), settings_image(256, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    const fs::path swap = folder() / "bin" / "swap";
    fs::create_symlink(outside, swap);

    // At least 10,000 swaps and 20 saves, however slow a save is in this
    // build; both bounded.
    std::atomic<bool> swapping{true};
    std::atomic<int> saves{0};
    int swaps = 0;
    std::thread swapper([&] {
        for (; swaps < 2000000 && (swaps < 10000 || saves < 20); ++swaps) {
            if (::renameat2(AT_FDCWD, beside().c_str(), AT_FDCWD, swap.c_str(), RENAME_EXCHANGE) != 0) break;
            const timespec pause{0, 50000};
            ::nanosleep(&pause, nullptr);
        }
        swapping = false;
    });
    for (; swapping && saves < 2000; ++saves) run({"set", "echo", saves % 2 == 0 ? "on" : "off"});
    swapper.join();
    EXPECT_GE(swaps, 10000);
    EXPECT_GE(saves, 20);
    EXPECT_EQ(read_bytes(outside), victim);
    EXPECT_EQ(names_in(folder() / "outside"), (std::vector<std::string>{"victim.cfg"}));
}

// A link in the lock file's place is never followed: its target is not
// made, and the save is refused with the reason.
TEST_F(Velmoractl, ALinkInTheLockFilesPlaceIsNotFollowed)
{
    const bytes before = settings_image(256, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    write_file(beside(), before);
    fs::create_symlink(other(), beside().string() + ".lock");
    const program_result result = run({"set", "daytime", "on"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("lock file (.lock beside it) is a link"), std::string::npos) << result.errors;
    EXPECT_FALSE(fs::exists(other()));
    EXPECT_EQ(read_bytes(beside()), before);
}

// Another holder (an administrator's flock(1), say) keeps the lock past the
// wait: velmoractl gives up, says why and leaves the file as it was.
TEST_F(Velmoractl, ALockHeldPastTheWaitChangesNothing)
{
    const bytes before = settings_image(256, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    write_file(beside(), before);
    const int held = ::open((beside().string() + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    const program_result result = run_to_end(command.program, {.arguments = {"set", "chargen", "on"}}, 30000);
    ::close(held);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "");
    EXPECT_NE(result.errors.find("Another change to it is being saved; nothing was changed."), std::string::npos)
        << result.errors;
    EXPECT_EQ(read_bytes(beside()), before);
}

// A user who may write VELMORA.CFG but not its folder cannot make the lock
// file: the save says so (not that the file is missing) and changes
// nothing; once the lock file is there, readable, the save goes through.
TEST_F(Velmoractl, AnUnwritableFolderNeedsTheLockFileMadeBeforehand)
{
    const bytes before = settings_image(256, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    write_file(beside(), before);
    ASSERT_EQ(::chmod(beside().c_str(), 0666), 0);
    ASSERT_EQ(::chmod((folder() / "bin").c_str(), 0755), 0);
    program_result result = run({"set", "quote", "on"}, nobody);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.errors, "velmoractl: the selection could not be saved to " + beside().string() +
                                 ".\nIts lock file (.lock beside it) cannot be made or opened; nothing was changed.\n"
                                 "Error Nr: " + std::to_string(EACCES) + "\n");
    EXPECT_EQ(read_bytes(beside()), before);

    write_file(beside().string() + ".lock", "");
    ASSERT_EQ(::chmod((beside().string() + ".lock").c_str(), 0444), 0);
    result = run({"set", "quote", "on"}, nobody);
    EXPECT_EQ(result.status, 0) << result.errors;
    EXPECT_EQ(read_bytes(beside()), settings_image(256, {0, 0, 0, 1, 0, 0, 0, 0, 0, 0}));
}
