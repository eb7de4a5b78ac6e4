// save_selection against awkward settings files: it writes the 44-byte
// record at the start of the file and never touches a byte beyond them,
// and where it cannot write it changes nothing and says so.
//
// The save also keeps the autostart entry (a systemd unit under
// /etc/systemd/system); each save runs in a private mount namespace with an
// empty tmpfs there, so that the machine's own units are never touched.
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
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
