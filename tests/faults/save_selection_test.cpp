// save_selection against awkward settings files: it writes the 44-byte
// record at the start of the file and never touches a byte beyond them,
// and where it cannot write it changes nothing and says so.
//
// The save also keeps the autostart entry (a systemd unit under
// /etc/systemd/system); each test runs in a private mount namespace with an
// empty tmpfs there, so that the machine's own units are never touched.
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "program_run.h"
#include "settings_image.h"
#include "test_files.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t nobody = 65534;
const char flags[] = "1010110101"; // echo, daytime, chargen, telnet, dns, autostart

std::vector<unsigned char> random_bytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<unsigned char> bytes(size);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
    return bytes;
}

// What a save on a full disk left there.
struct full_disk_save {
    int result = -1;         // the save's result, -1 when the disk could not be set up
    std::string said;        // the probe's standard output
    std::string names;       // the names on the disk, one a line
    std::optional<std::vector<unsigned char>> settings; // the settings file, when there is one
};

class SaveSelection : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A mount namespace of this test's own, which every probe inherits.
        ASSERT_EQ(::unshare(CLONE_NEWNS), 0);
        ASSERT_EQ(::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr), 0);
        ASSERT_EQ(::mount("tmpfs", "/etc/systemd/system", "tmpfs", 0, "size=1m"), 0);
        ASSERT_TRUE(scratch_copy(&probe, VELMORA_SAVE_PROBE, "save_probe"));
        folder = probe.folder;
    }

    void TearDown() override { program_discard(&probe); }

    // Runs one save; returns its result (1 or 0), or -1 when the probe failed.
    static int save(const std::string& program, uid_t user = 0, std::string* said = nullptr)
    {
        launch_options options;
        options.arguments = {flags};
        options.user = user;
        const program_result saved = run_to_end(program, options, 10000);
        if (said != nullptr) *said = saved.output;
        return saved.exited && saved.status <= 1 ? saved.status : -1;
    }
    int save(uid_t user = 0) { return save(probe.program, user); }

    // Runs one save on a disk with no room left: a tmpfs over the folder
    // "disk", holding a copy of the probe and `existing` as its settings file
    // (none when nullopt), filled up before the save.
    full_disk_save save_on_full_disk(const std::optional<std::vector<unsigned char>>& existing)
    {
        full_disk_save saved;
        const fs::path disk = folder / "disk";
        fs::create_directory(disk);
        const std::string size = "size=" + std::to_string(fs::file_size(probe.program) + (64 << 10));
        if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, size.c_str()) != 0) return saved;
        std::error_code error;
        fs::copy_file(probe.program, disk / "save_probe", error);
        if (!error && (!existing || write_file(disk / "VELMORA.CFG", *existing)) && fill(disk / "filler")) {
            saved.result = save(disk / "save_probe", 0, &saved.said);
            std::set<std::string> names;
            for (const fs::directory_entry& entry : fs::directory_iterator(disk)) names.insert(entry.path().filename());
            for (const std::string& name : names) saved.names += name + "\n";
            if (fs::exists(disk / "VELMORA.CFG")) saved.settings = read_bytes(disk / "VELMORA.CFG");
        }
        ::umount2(disk.c_str(), MNT_DETACH);
        return saved;
    }

    // Writes until the disk has no room left.
    static bool fill(const fs::path& path)
    {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) return false;
        const std::vector<char> block(4096, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        const bool full = errno == ENOSPC;
        ::close(fd);
        return full;
    }

    fs::path settings() const { return folder / "VELMORA.CFG"; }

    program_run probe;
    fs::path folder;
    const std::vector<unsigned char> record = settings_image(256, {1, 0, 1, 0, 1, 1, 0, 1, 0, 1});
};

} // namespace

TEST_F(SaveSelection, CreatesAMissingFileOfExactlyFortyFourBytes)
{
    ASSERT_EQ(save(), 1);
    EXPECT_EQ(read_bytes(settings()), record);
}

TEST_F(SaveSelection, ReplacesOnlyTheFirstFortyFourBytes)
{
    for (std::size_t size : {std::size_t{1}, std::size_t{43}, std::size_t{44}, std::size_t{45}, std::size_t{4096},
                             std::size_t{3} << 20}) {
        SCOPED_TRACE("a file of " + std::to_string(size) + " bytes");
        const std::vector<unsigned char> before = random_bytes(size, static_cast<unsigned>(size));
        write_file(settings(), before);
        ASSERT_EQ(save(), 1);
        const std::vector<unsigned char> after = read_bytes(settings());
        ASSERT_EQ(after.size(), std::max<std::size_t>(size, 44));
        EXPECT_TRUE(std::equal(record.begin(), record.end(), after.begin()));
        if (size > 44) {
            EXPECT_TRUE(std::equal(before.begin() + 44, before.end(), after.begin() + 44));
        }
    }
}

TEST_F(SaveSelection, ReadOnlyFileIsLeftAlone)
{
    const std::vector<unsigned char> before = random_bytes(100, 5);
    write_file(settings(), before);
    ASSERT_EQ(::chmod(settings().c_str(), 0444), 0);
    // Root writes any file whatever its mode; nobody does not.
    EXPECT_EQ(save(nobody), 0);
    EXPECT_EQ(read_bytes(settings()), before);
}

TEST_F(SaveSelection, ReadOnlyFolderGetsNoFile)
{
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    EXPECT_EQ(save(nobody), 0);
    EXPECT_FALSE(fs::exists(settings()));
}

TEST_F(SaveSelection, FolderInPlaceOfTheFile)
{
    fs::create_directory(settings());
    write_file(settings() / "inside", std::vector<unsigned char>{1, 2, 3});
    EXPECT_EQ(save(), 0);
    EXPECT_TRUE(fs::is_directory(settings()));
    EXPECT_EQ(read_bytes(settings() / "inside"), (std::vector<unsigned char>{1, 2, 3}));
}

// A pipe would hold the bytes until someone reads them, /dev/null drops
// them: neither is a settings file, and the save must neither wait on them
// nor report success.
TEST_F(SaveSelection, PipesAndDevicesAreNotSettingsFiles)
{
    ASSERT_EQ(::mkfifo(settings().c_str(), 0644), 0);
    EXPECT_EQ(save(), 0);
    struct stat status{};
    ASSERT_EQ(::lstat(settings().c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    ASSERT_EQ(::unlink(settings().c_str()), 0);

    ASSERT_EQ(::symlink("/dev/null", settings().c_str()), 0);
    EXPECT_EQ(save(), 0);
    EXPECT_EQ(fs::read_symlink(settings()), "/dev/null");
}

// A full disk: a new file could only be left short, so none is made and the
// save says why; a short file stays as it was; a file that already has its
// 44 bytes needs no room and takes the save.
TEST_F(SaveSelection, FullDisk)
{
    const std::string full = "Error Nr: " + std::to_string(ENOSPC) + "\n";

    full_disk_save saved = save_on_full_disk(std::nullopt);
    ASSERT_EQ(saved.result, 0);
    EXPECT_EQ(saved.said, full);
    // The empty lock file beside the settings file needs no room on the disk.
    EXPECT_EQ(saved.names, "VELMORA.CFG.lock\nfiller\nsave_probe\n");

    const std::vector<unsigned char> short_file = random_bytes(10, 10);
    saved = save_on_full_disk(short_file);
    ASSERT_EQ(saved.result, 0);
    EXPECT_EQ(saved.said, full);
    EXPECT_EQ(saved.names, "VELMORA.CFG\nVELMORA.CFG.lock\nfiller\nsave_probe\n");
    EXPECT_EQ(saved.settings, short_file);

    saved = save_on_full_disk(settings_image(256, {0, 1, 0, 1, 0, 0, 1, 0, 1, 0}));
    ASSERT_EQ(saved.result, 1);
    EXPECT_EQ(saved.names, "VELMORA.CFG\nVELMORA.CFG.lock\nfiller\nsave_probe\n");
    EXPECT_EQ(saved.settings, record);
}
