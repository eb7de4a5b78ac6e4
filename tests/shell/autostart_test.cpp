// The systemd unit that keeps Velmora starting at boot. CTest runs this
// program in a private mount namespace with an empty tmpfs on
// /etc/systemd/system (private_units.sh), from a folder whose name needs
// quoting and escaping in a unit file; the tests refuse to run anywhere else.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include "autostart.h"
#include "module_path.h"
#include "program_run.h"

namespace {

const std::string folder = "/etc/systemd/system";
const std::string unit = folder + "/velmora.service";
const std::string wants = folder + "/multi-user.target.wants";
const std::string link = wants + "/velmora.service";
constexpr long tmpfs_magic = 0x01021994;

std::string namespace_of(const char* process)
{
    char target[128] = {};
    const ssize_t n = ::readlink((std::string("/proc/") + process + "/ns/mnt").c_str(), target, sizeof target - 1);
    return n > 0 ? std::string(target, static_cast<std::size_t>(n)) : std::string();
}

bool units_are_private()
{
    struct statfs about {};
    const std::string own = namespace_of("self");
    return !own.empty() && own != namespace_of("1") && ::statfs(folder.c_str(), &about) == 0 &&
           about.f_type == tmpfs_magic;
}

bool exists(const std::string& path)
{
    struct stat about {};
    return ::lstat(path.c_str(), &about) == 0;
}

std::string read_text(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string executable()
{
    char path[1024];
    return module_path(path, sizeof path) > 0 ? path : "";
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// Runs update_autostart and returns what it wrote to the terminal.
std::string shown_by_update(bool enabled)
{
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    update_autostart(enabled);
    return testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
}

void set_read_only(bool read_only)
{
    const unsigned long flags = MS_REMOUNT | (read_only ? MS_RDONLY : 0);
    ASSERT_EQ(::mount(nullptr, folder.c_str(), nullptr, flags, nullptr), 0);
}

class Autostart : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!units_are_private()) GTEST_SKIP() << "needs a private tmpfs on " << folder << " (private_units.sh)";
        ::unlink(link.c_str());
        ::rmdir(wants.c_str());
        ::unlink(unit.c_str());
    }
    void TearDown() override
    {
        if (units_are_private()) set_read_only(false);
    }
};

TEST_F(Autostart, SettingWritesTheUnitAndTheLinkThatEnablesIt)
{
    EXPECT_EQ(shown_by_update(true), "");
    const std::string text = read_text(unit);
    // systemd doubles '%' in unit files but expands no '$' in the
    // executable's name.
    const std::string command = "\"" + replaced(executable(), "%", "%%") + "\"";
    EXPECT_NE(text.find("\nExecStart=" + command + " --quiet\n"), std::string::npos) << text;
    EXPECT_NE(text.find("[Install]\nWantedBy=multi-user.target\n"), std::string::npos) << text;
    char target[256] = {};
    ASSERT_GT(::readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(std::string(target), unit);
}

TEST_F(Autostart, SystemdReadsTheUnitBackToThisExecutable)
{
    if (std::system("command -v systemd-analyze >/dev/null 2>&1") != 0) GTEST_SKIP() << "no systemd-analyze";
    update_autostart(true);
    // verify fails when ExecStart does not name an executable file.
    EXPECT_EQ(std::system(("systemd-analyze verify " + unit + " 2>&1").c_str()), 0) << read_text(unit);
}

TEST_F(Autostart, SettingAgainLeavesOneUnitOneLinkAndNoLeftovers)
{
    update_autostart(true);
    update_autostart(true);
    EXPECT_EQ(std::system(("test \"$(ls -A " + folder + " | tr '\\n' ' ')\" = 'multi-user.target.wants velmora.service '")
                              .c_str()),
              0);
    EXPECT_EQ(std::system(("test \"$(ls -A " + wants + ")\" = velmora.service").c_str()), 0);
}

TEST_F(Autostart, ClearingRemovesTheUnitAndTheLink)
{
    update_autostart(true);
    ASSERT_TRUE(exists(unit) && exists(link));
    EXPECT_EQ(shown_by_update(false), "");
    EXPECT_FALSE(exists(unit));
    EXPECT_FALSE(exists(link));
    // Clearing what is not there passes silently.
    EXPECT_EQ(shown_by_update(false), "");
}

TEST_F(Autostart, AReadOnlyFolderIsLeftAsItIsAndNothingIsShown)
{
    update_autostart(true);
    const std::string before = read_text(unit);
    set_read_only(true);
    EXPECT_EQ(shown_by_update(false), "");
    EXPECT_EQ(read_text(unit), before);
    EXPECT_TRUE(exists(link));
    set_read_only(false);

    update_autostart(false);
    set_read_only(true);
    EXPECT_EQ(shown_by_update(true), "");
    EXPECT_FALSE(exists(unit));
    EXPECT_FALSE(exists(link));
}

// Copies this program into `copy_folder` and runs the copy as the helper
// that only enables autostart for itself (see main). Returns the copy's
// path, or an empty text when it could not be copied or did not run.
std::string enabled_from_copy_in(const std::string& copy_folder)
{
    const std::string copy = copy_folder + "/velmora_autostart_tests";
    ::mkdir(copy_folder.c_str(), 0755);
    std::error_code error;
    std::filesystem::copy_file(executable(), copy, std::filesystem::copy_options::overwrite_existing, error);
    if (error) return "";
    const program_result ran = run_to_end(copy, {.environment = {"VELMORA_ENABLE_AUTOSTART=1"}}, 10000);
    return ran.status == 0 ? copy : "";
}

void remove_copy(const std::string& copy)
{
    ::unlink(copy.c_str());
    ::rmdir(copy.substr(0, copy.rfind('/')).c_str());
}

// Runs a copy of this program in a folder named `name` as that helper, and
// tells whether it ran.
bool enabled_from_copy(const std::string& name)
{
    program_run helper;
    const bool copied = scratch_copy(&helper, executable(), name + "/velmora_autostart_tests");
    const program_result ran = run_to_end(helper.program, {.environment = {"VELMORA_ENABLE_AUTOSTART=1"}}, 10000);
    program_discard(&helper);
    return copied && ran.status == 0;
}

TEST_F(Autostart, AnExecutableSystemdCannotRunGetsNoUnit)
{
    ASSERT_TRUE(enabled_from_copy("plain"));
    EXPECT_TRUE(exists(unit));
    update_autostart(false);
    for (const char* name : {"say \"hi\"", "it's", "back\\slash"}) {
        ASSERT_TRUE(enabled_from_copy(name)) << name;
        EXPECT_FALSE(exists(unit)) << name;
        EXPECT_FALSE(exists(link)) << name;
    }
}

// systemd's assessment of a unit file: the overall exposure line, and in
// `status` 0 when the exposure is at most 2.0.
std::string exposure_of(const std::string& unit_file, int* status)
{
    const std::string command = "systemd-analyze security --offline=yes --threshold=20 " + unit_file + " 2>&1";
    std::FILE* out = ::popen(command.c_str(), "r");
    if (out == nullptr) return "cannot run systemd-analyze";
    std::string overall;
    char line[512];
    while (std::fgets(line, sizeof line, out) != nullptr)
        if (std::strstr(line, "Overall exposure level") != nullptr) overall = line;
    const int ended = ::pclose(out);
    *status = WIFEXITED(ended) ? WEXITSTATUS(ended) : -1;
    if (!overall.empty() && overall.back() == '\n') overall.pop_back();
    return overall.empty() ? "no overall exposure level" : overall;
}

bool has_line(const std::string& text, const std::string& line)
{
    return text.find("\n" + line + "\n") != std::string::npos;
}

// The sandbox of the packaged velmora.service wherever the program lives,
// loosened only where its folder would be out of the service's sight: a
// home folder is read-only instead of hidden, and a program in the shared
// /tmp runs as root (a user of its own always gets a private /tmp), though
// still with no capability but binding. Every variant stays at an exposure
// of at most 2.0 in systemd's own assessment.
TEST_F(Autostart, TheUnitKeepsTheSandboxAsFarAsTheProgramsFolderAllows)
{
    if (std::system("command -v systemd-analyze >/dev/null 2>&1") != 0) GTEST_SKIP() << "no systemd-analyze";
    // Empty /opt and /home of this private mount namespace only.
    ASSERT_EQ(::mount("velmora-opt", "/opt", "tmpfs", 0, nullptr), 0);
    ASSERT_EQ(::mount("velmora-home", "/home", "tmpfs", 0, nullptr), 0);
    char temporary[] = "/tmp/velmora autostart XXXXXX";
    ASSERT_NE(::mkdtemp(temporary), nullptr);
    ::rmdir(temporary);
    struct place {
        std::string folder;
        std::vector<std::string> lines;
        std::vector<std::string> absent;
    };
    const place places[] = {
        {"/opt/velmora", {"DynamicUser=yes", "PrivateTmp=yes", "ProtectHome=yes"}, {}},
        {"/home/velmora", {"DynamicUser=yes", "PrivateTmp=yes", "ProtectHome=read-only"}, {}},
        {temporary, {"ProtectHome=yes"}, {"DynamicUser=yes", "PrivateTmp=yes"}},
    };
    const std::vector<std::string> everywhere = {
        "AmbientCapabilities=CAP_NET_BIND_SERVICE", "CapabilityBoundingSet=CAP_NET_BIND_SERVICE",
        "NoNewPrivileges=yes", "ProtectSystem=strict", "SystemCallFilter=~@privileged @resources"};
    for (const place& at : places) {
        const std::string copy = enabled_from_copy_in(at.folder);
        ASSERT_FALSE(copy.empty()) << at.folder;
        const std::string text = read_text(unit);
        for (const std::string& line : everywhere) EXPECT_TRUE(has_line(text, line)) << line << "\n" << text;
        for (const std::string& line : at.lines) EXPECT_TRUE(has_line(text, line)) << line << "\n" << text;
        for (const std::string& line : at.absent) EXPECT_FALSE(has_line(text, line)) << line << "\n" << text;
        EXPECT_EQ(std::system(("systemd-analyze verify " + unit + " 2>&1").c_str()), 0) << text;
        int status = -1;
        const std::string assessment = exposure_of(unit, &status);
        std::printf("%s: %s\n", at.folder.c_str(), assessment.c_str());
        EXPECT_EQ(status, 0) << at.folder << ": " << assessment << "\n" << text;
        remove_copy(copy);
        update_autostart(false);
    }
    ::umount("/home");
    ::umount("/opt");
}

} // namespace

int main(int argc, char** argv)
{
    if (std::getenv("VELMORA_ENABLE_AUTOSTART") != nullptr) {
        update_autostart(true);
        return 0;
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
