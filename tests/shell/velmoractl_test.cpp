// velmoractl run as a program, as an administrator would, against settings
// files in a scratch folder: what it shows, what it writes, what it refuses
// (changing nothing then), and its exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr uid_t nobody = 65534;

using bytes = std::vector<unsigned char>;

// Version, then the flags echo, discard, daytime, quote, chargen, telnet,
// time, dns, run-as-service, autostart.
bytes image_of(std::uint32_t version, const std::vector<std::uint32_t>& flags)
{
    bytes image;
    auto put = [&image](std::uint32_t word) {
        for (int b = 0; b < 4; ++b) image.push_back(static_cast<unsigned char>(word >> (8 * b)));
    };
    put(version);
    for (std::uint32_t flag : flags) put(flag);
    return image;
}

bytes read_all(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string read_text(const fs::path& path)
{
    const bytes all = read_all(path);
    return {all.begin(), all.end()};
}

void write_all(const fs::path& path, const bytes& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
}

struct run_result {
    int status = -1; // the exit status, -1 when it did not exit by itself
    std::string output;
    std::string errors;
};

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
    void SetUp() override
    {
        char pattern[] = "/tmp/velmoractl-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder = pattern;
        ::chmod(folder.c_str(), 0755);
        // A copy beside its own settings file, as installed beside Velmora.
        fs::create_directory(folder / "bin");
        fs::copy_file(VELMORACTL_PROGRAM, program());
        ::chmod((folder / "bin").c_str(), 0755);
        ::chmod(program().c_str(), 0755);
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }

    fs::path program() const { return folder / "bin" / "velmoractl"; }
    fs::path beside() const { return folder / "bin" / "VELMORA.CFG"; }
    fs::path other() const { return folder / "other.cfg"; }

    // Runs the program with standard input on /dev/null, its two outputs
    // in files of the scratch folder, as `user` (0: as the test runs).
    run_result run(const std::vector<std::string>& arguments, uid_t user = 0)
    {
        const fs::path out = folder / "out", err = folder / "err";
        const pid_t pid = ::fork();
        if (pid == 0) {
            const int in_fd = ::open("/dev/null", O_RDONLY);
            const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in_fd < 0 || out_fd < 0 || err_fd < 0 || ::dup2(in_fd, 0) < 0 || ::dup2(out_fd, 1) < 0 ||
                ::dup2(err_fd, 2) < 0)
                ::_exit(120);
            if (user != 0 && (::setgid(user) != 0 || ::setuid(user) != 0)) ::_exit(121);
            const std::string name = program().string();
            std::vector<char*> argv{const_cast<char*>(name.c_str())};
            for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(name.c_str(), argv.data());
            ::_exit(122);
        }
        run_result result;
        int status = 0;
        if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) result.status = WEXITSTATUS(status);
        result.output = read_text(out);
        result.errors = read_text(err);
        return result;
    }

    // The names in a folder, sorted.
    std::vector<std::string> names_in(const fs::path& where) const
    {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(where)) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    fs::path folder;
};

} // namespace

TEST_F(Velmoractl, ShowsTheFileBesideItselfAsATable)
{
    write_all(beside(), image_of(256, {1, 0, 0, 0, 1, 0, 0, 1, 0, 1}));
    const run_result shown = run({});
    EXPECT_EQ(shown.status, 0);
    EXPECT_EQ(shown.output, "Settings file: " + beside().string() + "\n\n" + table_of_echo_chargen_dns_autostart);
    EXPECT_EQ(shown.errors, "");

    // --file names another file; the one beside it is not looked at.
    write_all(other(), image_of(256, {0, 0, 0, 0, 0, 0, 0, 0, 1, 0}));
    const run_result other_file = run({"--file", other().string()});
    EXPECT_EQ(other_file.status, 0);
    EXPECT_NE(other_file.output.find("Settings file: " + other().string() + "\n"), std::string::npos);
    EXPECT_NE(other_file.output.find("echo          7  off\n"), std::string::npos);
    EXPECT_NE(other_file.output.find("run-as-service   on\n"), std::string::npos);
}

TEST_F(Velmoractl, ShowSaysWhatVelmoraMakesOfAFileWithoutARecord)
{
    const run_result missing = run({});
    EXPECT_EQ(missing.status, 0);
    EXPECT_NE(missing.output.find("does not exist: Velmora runs no service"), std::string::npos) << missing.output;

    write_all(beside(), bytes(10, 1));
    const run_result short_file = run({});
    EXPECT_EQ(short_file.status, 1);
    EXPECT_EQ(short_file.output, "");
    EXPECT_EQ(short_file.errors, "velmoractl: " + beside().string() +
                                     " holds 10 bytes, fewer than the 44 of a settings file.\n"
                                     "Velmora ignores it and runs no service.\n");

    write_all(beside(), image_of(257, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1}));
    const run_result foreign = run({});
    EXPECT_EQ(foreign.status, 1);
    EXPECT_NE(foreign.errors.find("is a settings file of version 257, not 256."), std::string::npos) << foreign.errors;

    fs::remove(beside());
    ASSERT_EQ(::mkfifo(beside().c_str(), 0644), 0);
    const run_result pipe = run({});
    EXPECT_EQ(pipe.status, 1);
    EXPECT_NE(pipe.errors.find("is not a plain file"), std::string::npos) << pipe.errors;
}

TEST_F(Velmoractl, SetChangesTheNamedFlagsInPlaceAndTheTailStays)
{
    bytes file = image_of(256, {1, 1, 0, 0, 0, 0, 0, 1, 0, 0});
    const std::string tail = "a tail that is not Velmora's";
    file.insert(file.end(), tail.begin(), tail.end());
    write_all(beside(), file);

    const run_result set = run({"set", "discard", "off", "chargen", "on", "autostart", "on", "echo", "on"});
    EXPECT_EQ(set.status, 0) << set.errors;
    bytes expected = image_of(256, {1, 0, 0, 0, 1, 0, 0, 1, 0, 1});
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(read_all(beside()), expected);
    EXPECT_EQ(set.output, "Settings file: " + beside().string() + "\n\n" + table_of_echo_chargen_dns_autostart +
                              "\nSaved. Velmora reads the file when it starts; to apply the change now:\n"
                              "  systemctl restart velmora\n"
                              "A Velmora started by hand must be ended (Ctrl-C) and started again.\n");
    EXPECT_EQ(names_in(folder / "bin"), (std::vector<std::string>{"VELMORA.CFG", "velmoractl"}));
}

TEST_F(Velmoractl, SetCreatesAMissingFileOfExactlyFortyFourBytes)
{
    const run_result set = run({"--file", other().string(), "set", "dns", "on", "run-as-service", "on"});
    EXPECT_EQ(set.status, 0) << set.errors;
    EXPECT_EQ(read_all(other()), image_of(256, {0, 0, 0, 0, 0, 0, 0, 1, 1, 0}));
    EXPECT_EQ(names_in(folder), (std::vector<std::string>{"bin", "err", "other.cfg", "out"}));
}

TEST_F(Velmoractl, WrongCommandLinesChangeNothing)
{
    const bytes before = image_of(256, {1, 0, 1, 0, 1, 0, 1, 0, 1, 0});
    write_all(beside(), before);
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
        const run_result result = run(c.arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.output, "");
        EXPECT_EQ(result.errors, c.says + "See velmoractl --help.\n");
        EXPECT_EQ(read_all(beside()), before);
    }

    // Nor is a missing file made.
    fs::remove(beside());
    EXPECT_EQ(run({"set", "echo", "maybe"}).status, 2);
    EXPECT_FALSE(fs::exists(beside()));
}

TEST_F(Velmoractl, FilesItCannotChangeAreLeftAsTheyAre)
{
    const bytes short_file(43, 0);
    write_all(beside(), short_file);
    run_result result = run({"set", "echo", "on"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("holds 43 bytes"), std::string::npos) << result.errors;
    EXPECT_NE(result.errors.find("Nothing was changed.\n"), std::string::npos) << result.errors;
    EXPECT_EQ(read_all(beside()), short_file);

    const bytes foreign = image_of(512, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    write_all(beside(), foreign);
    result = run({"set", "echo", "on"});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.errors.find("of version 512, not 256"), std::string::npos) << result.errors;
    EXPECT_EQ(read_all(beside()), foreign);

    // Root writes any file whatever its mode; nobody does not.
    const bytes readable = image_of(256, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    write_all(beside(), readable);
    ASSERT_EQ(::chmod(beside().c_str(), 0444), 0);
    result = run({"set", "echo", "on"}, nobody);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, "");
    EXPECT_EQ(result.errors, "velmoractl: the selection could not be saved to " + beside().string() +
                                 ".\nError Nr: " + std::to_string(EACCES) + "\n");
    EXPECT_EQ(read_all(beside()), readable);
}

TEST_F(Velmoractl, HelpTellsTheCommandLineAndWhatAutostartDoesNot)
{
    const run_result help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.output.rfind("Usage: velmoractl [--file PATH]\n", 0), 0u) << help.output;
    EXPECT_NE(help.output.find("set NAME on|off"), std::string::npos);
    EXPECT_NE(help.output.find("The autostart flag only records the choice"), std::string::npos);
    EXPECT_EQ(help.errors, "");
}
