// save_selection against awkward settings files: it writes the 44-byte
// record at the start of the file and never touches a byte beyond them,
// and where it cannot write it changes nothing and says so.
//
// The save also keeps the autostart entry (a systemd unit under
// /etc/systemd/system); each save runs in a private mount namespace with an
// empty tmpfs there, so that the machine's own units are never touched.
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "velmora_run.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t nobody = 65534;
const char flags[] = "1010110101"; // echo, daytime, chargen, telnet, dns, autostart

std::vector<unsigned char> read_all(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_all(const fs::path& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<unsigned char> random_bytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<unsigned char> bytes(size);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
    return bytes;
}

class SaveSelection : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/velmora-save-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder = pattern;
        ::chmod(folder.c_str(), 0755);
        fs::copy_file(VELMORA_SAVE_PROBE, folder / "save_probe");
        ::chmod((folder / "save_probe").c_str(), 0755);
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(folder, ignored);
    }

    // Runs one save; returns its result (1 or 0), or -1 when the probe failed.
    int save(uid_t user = 0)
    {
        const std::string program = (folder / "save_probe").string();
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tmpfs", "/etc/systemd/system", "tmpfs", 0, "size=1m") != 0)
                ::_exit(100);
            if (user != 0 && (::setgid(user) != 0 || ::setuid(user) != 0)) ::_exit(101);
            char* const arguments[] = {const_cast<char*>(program.c_str()), const_cast<char*>(flags), nullptr};
            ::execv(program.c_str(), arguments);
            ::_exit(102);
        }
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
        const int code = WEXITSTATUS(status);
        return code <= 1 ? code : -1;
    }

    // Runs one save on a disk with no room left: a tmpfs in a private mount
    // namespace over the folder "disk", holding a copy of the probe and
    // `existing` as its settings file (none when nullopt), filled up before
    // the save. What the save leaves there is copied out beside the disk:
    // disk.files (the names on the disk, one a line) and disk.cfg (the
    // settings file, when there is one). Returns the save's result, -1 when
    // the disk could not be set up.
    int save_on_full_disk(const std::optional<std::vector<unsigned char>>& existing)
    {
        const fs::path disk = folder / "disk";
        fs::create_directory(disk);
        const std::uintmax_t room = fs::file_size(folder / "save_probe") + (64 << 10);
        const pid_t pid = ::fork();
        if (pid == 0) {
            const std::string size = "size=" + std::to_string(room);
            if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                ::mount("tmpfs", "/etc/systemd/system", "tmpfs", 0, "size=1m") != 0 ||
                ::mount("tmpfs", disk.c_str(), "tmpfs", 0, size.c_str()) != 0)
                ::_exit(100);
            std::error_code error;
            fs::copy_file(folder / "save_probe", disk / "save_probe", error);
            if (error || ::chmod((disk / "save_probe").c_str(), 0755) != 0) ::_exit(101);
            if (existing) write_all(disk / "VELMORA.CFG", *existing);
            if (!fill(disk / "filler")) ::_exit(102);

            const pid_t probe = ::fork();
            if (probe == 0) {
                const int out = ::open((folder / "probe.out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                if (out < 0 || ::dup2(out, STDOUT_FILENO) < 0) ::_exit(103);
                const std::string program = (disk / "save_probe").string();
                char* const arguments[] = {const_cast<char*>(program.c_str()), const_cast<char*>(flags), nullptr};
                ::execv(program.c_str(), arguments);
                ::_exit(104);
            }
            int status = 0;
            if (probe < 0 || ::waitpid(probe, &status, 0) != probe || !WIFEXITED(status)) ::_exit(105);

            std::set<std::string> names;
            for (const fs::directory_entry& entry : fs::directory_iterator(disk)) names.insert(entry.path().filename());
            std::ofstream list(folder / "disk.files");
            for (const std::string& name : names) list << name << "\n";
            list.close();
            if (fs::exists(disk / "VELMORA.CFG")) fs::copy_file(disk / "VELMORA.CFG", folder / "disk.cfg", error);
            ::_exit(WEXITSTATUS(status));
        }
        int status = 0;
        if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
        const int code = WEXITSTATUS(status);
        return code <= 1 ? code : -1;
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

    std::string file_text(const char* name) const
    {
        const std::vector<unsigned char> bytes = read_all(folder / name);
        return {bytes.begin(), bytes.end()};
    }

    fs::path settings() const { return folder / "VELMORA.CFG"; }

    fs::path folder;
    const std::vector<unsigned char> record = settings_image(256, {1, 0, 1, 0, 1, 1, 0, 1, 0, 1});
};

} // namespace

TEST_F(SaveSelection, CreatesAMissingFileOfExactlyFortyFourBytes)
{
    ASSERT_EQ(save(), 1);
    EXPECT_EQ(read_all(settings()), record);
}

TEST_F(SaveSelection, ReplacesOnlyTheFirstFortyFourBytes)
{
    for (std::size_t size : {std::size_t{1}, std::size_t{43}, std::size_t{44}, std::size_t{45}, std::size_t{4096},
                             std::size_t{3} << 20}) {
        SCOPED_TRACE("a file of " + std::to_string(size) + " bytes");
        const std::vector<unsigned char> before = random_bytes(size, static_cast<unsigned>(size));
        write_all(settings(), before);
        ASSERT_EQ(save(), 1);
        const std::vector<unsigned char> after = read_all(settings());
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
    write_all(settings(), before);
    ASSERT_EQ(::chmod(settings().c_str(), 0444), 0);
    // Root writes any file whatever its mode; nobody does not.
    EXPECT_EQ(save(nobody), 0);
    EXPECT_EQ(read_all(settings()), before);
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
    write_all(settings() / "inside", {1, 2, 3});
    EXPECT_EQ(save(), 0);
    EXPECT_TRUE(fs::is_directory(settings()));
    EXPECT_EQ(read_all(settings() / "inside"), (std::vector<unsigned char>{1, 2, 3}));
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

    ASSERT_EQ(save_on_full_disk(std::nullopt), 0);
    EXPECT_EQ(file_text("probe.out"), full);
    EXPECT_EQ(file_text("disk.files"), "filler\nsave_probe\n");

    const std::vector<unsigned char> short_file = random_bytes(10, 10);
    ASSERT_EQ(save_on_full_disk(short_file), 0);
    EXPECT_EQ(file_text("probe.out"), full);
    EXPECT_EQ(file_text("disk.files"), "VELMORA.CFG\nfiller\nsave_probe\n");
    EXPECT_EQ(read_all(folder / "disk.cfg"), short_file);

    fs::remove(folder / "disk.cfg");
    ASSERT_EQ(save_on_full_disk(settings_image(256, {0, 1, 0, 1, 0, 0, 1, 0, 1, 0})), 1);
    EXPECT_EQ(file_text("disk.files"), "VELMORA.CFG\nfiller\nsave_probe\n");
    EXPECT_EQ(read_all(folder / "disk.cfg"), record);
}
