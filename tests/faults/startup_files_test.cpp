// Start-up with damaged files beside the program. Settings files that are
// empty, short, of another version, a folder or unreadable are ignored as a
// whole (nothing runs); a long one counts by its first 44 bytes. Quote files
// that are empty, huge, all separators, without any separator, a folder or
// missing never bring the program down; every quote sent stays within its
// 512-byte slot. Pipes and devices in place of either file are not files:
// start-up must neither wait on them nor read them for ever.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "fault_fixture.h"

namespace fs = std::filesystem;

namespace {

constexpr int bind_ms = 300;
constexpr uid_t nobody = 65534;

} // namespace

class StartupFiles : public VelmoraFault {
protected:
    // Starts Velmora, lets start-up finish and returns the TCP and UDP ports
    // that listen then.
    void start_and_look(const velmora_setup& setup, std::vector<std::uint16_t>* tcp, std::vector<std::uint16_t>* udp)
    {
        ASSERT_TRUE(velmora_start(&run, setup));
        ASSERT_TRUE(velmora_started(&run, 10000)) << "start-up did not finish, status " << run.exit_status;
        // Listener threads started by now bind their ports within moments.
        std::this_thread::sleep_for(std::chrono::milliseconds(bind_ms));
        ASSERT_TRUE(velmora_alive(&run)) << "start-up ended the program, status " << run.exit_status;
        const std::set<int> tcp_ports = listening_tcp_ports(), udp_ports = bound_udp_ports();
        tcp->assign(tcp_ports.begin(), tcp_ports.end());
        udp->assign(udp_ports.begin(), udp_ports.end());
    }

    // A fresh namespace and program for the next case of a test.
    void next_case()
    {
        if (run.pid > 0) stop_cleanly();
        velmora_discard(&run);
        run = velmora_process{};
        ASSERT_TRUE(enter_fresh_network_namespace());
    }

    // What one quote client receives, and whether the server closed.
    std::string one_quote(bool* closed)
    {
        const int fd = tcp_connect(17, 3000);
        if (fd < 0) return "(no connection)";
        const std::string quote = tcp_read(fd, 4096, 3000, closed);
        ::close(fd);
        return quote;
    }

    void expect_nothing_runs(const velmora_setup& setup)
    {
        std::vector<std::uint16_t> tcp, udp;
        ASSERT_NO_FATAL_FAILURE(start_and_look(setup, &tcp, &udp));
        EXPECT_TRUE(tcp.empty()) << tcp.size() << " TCP ports listen";
        EXPECT_TRUE(udp.empty()) << udp.size() << " UDP ports are bound";
        stop_cleanly();
    }
};

TEST_F(StartupFiles, SettingsThatAreIgnoredAsAWhole)
{
    const std::vector<unsigned char> all = all_services();
    struct settings_case {
        const char* name;
        std::optional<std::vector<unsigned char>> image;
    };
    const settings_case cases[] = {
        {"missing", std::nullopt},
        {"empty", std::vector<unsigned char>{}},
        {"one byte", std::vector<unsigned char>{0x00}},
        {"43 bytes", std::vector<unsigned char>(all.begin(), all.end() - 1)},
        {"version 257", settings_image(257, {1, 1, 1, 1, 1, 1, 1, 1, 0, 0})},
        {"version 0", settings_image(0, {1, 1, 1, 1, 1, 1, 1, 1, 0, 0})},
        {"version bytes reversed", settings_image(0x00010000, {1, 1, 1, 1, 1, 1, 1, 1, 0, 0})},
    };
    for (const settings_case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(next_case());
        velmora_setup setup;
        setup.settings = c.image;
        expect_nothing_runs(setup);
    }
}

TEST_F(StartupFiles, SettingsFileThatIsAFolder)
{
    velmora_setup setup;
    setup.settings = std::nullopt;
    setup.settings_folder = true;
    expect_nothing_runs(setup);
}

TEST_F(StartupFiles, SettingsFileThatIsAPipeOrADevice)
{
    // Opening a pipe for reading waits for a writer: start-up must not.
    velmora_setup setup;
    setup.settings = std::nullopt;
    setup.prepare = [](const std::string& folder) { return ::mkfifo((folder + "/VELMORA.CFG").c_str(), 0644) == 0; };
    expect_nothing_runs(setup);

    ASSERT_NO_FATAL_FAILURE(next_case());
    setup.prepare = [](const std::string& folder) {
        return ::symlink("/dev/zero", (folder + "/VELMORA.CFG").c_str()) == 0;
    };
    expect_nothing_runs(setup);
}

TEST_F(StartupFiles, LongAndOddSettingsCountByTheirFirstFortyFourBytes)
{
    std::vector<unsigned char> long_file = settings_image(256, {1, 0, 0, 0, 0, 0, 1, 0, 0, 0});
    for (int i = 0; i < 5000; ++i) long_file.push_back(static_cast<unsigned char>(i * 7 + 1));
    {
        velmora_setup setup;
        setup.settings = long_file;
        std::vector<std::uint16_t> tcp, udp;
        ASSERT_NO_FATAL_FAILURE(start_and_look(setup, &tcp, &udp));
        EXPECT_EQ(tcp, (std::vector<std::uint16_t>{7, 37}));
        EXPECT_EQ(udp, (std::vector<std::uint16_t>{7, 37}));
    }
    ASSERT_NO_FATAL_FAILURE(next_case());
    {
        // Any non-zero word is a set flag.
        velmora_setup setup;
        setup.settings = settings_image(256, {2, 0, 0xFFFFFFFF, 0, 0, 0x80000000, 0, 0, 0, 0});
        std::vector<std::uint16_t> tcp, udp;
        ASSERT_NO_FATAL_FAILURE(start_and_look(setup, &tcp, &udp));
        EXPECT_EQ(tcp, (std::vector<std::uint16_t>{7, 13, 23}));
        EXPECT_EQ(udp, (std::vector<std::uint16_t>{7, 13}));
        stop_cleanly();
    }
}

TEST_F(StartupFiles, UnreadableSettingsFile)
{
    // Root reads any file whatever its mode, so the program runs as nobody;
    // this namespace lets nobody bind the low ports.
    {
        std::ofstream sysctl("/proc/sys/net/ipv4/ip_unprivileged_port_start");
        sysctl << "0\n";
    }
    {
        // The same file readable: nobody can start every service.
        velmora_setup setup;
        setup.user = nobody;
        std::vector<std::uint16_t> tcp, udp;
        ASSERT_NO_FATAL_FAILURE(start_and_look(setup, &tcp, &udp));
        ASSERT_EQ(tcp, tcp_service_ports) << "as nobody, with a readable file";
        stop_cleanly();
    }
    ASSERT_NO_FATAL_FAILURE(next_case());
    {
        std::ofstream sysctl("/proc/sys/net/ipv4/ip_unprivileged_port_start");
        sysctl << "0\n";
    }
    velmora_setup setup;
    setup.user = nobody;
    setup.settings_mode = 0;
    expect_nothing_runs(setup);
}

TEST_F(StartupFiles, AwkwardQuoteFiles)
{
    std::string huge;
    huge.reserve(10u << 20);
    for (int i = 0; huge.size() < (10u << 20); ++i) huge += "Quote number " + std::to_string(i) + " of many.\r\n%\r\n";
    std::string huge_without_separator(10u << 20, 'w');
    for (std::size_t i = 80; i < huge_without_separator.size(); i += 81) huge_without_separator[i] = '\n';

    struct quote_case {
        const char* name;
        std::string text;
        std::size_t exact_length; // every quote has this length; SIZE_MAX: any up to 512
    };
    const quote_case cases[] = {
        {"empty", "", 0},
        {"10 MB of quotes", huge, SIZE_MAX},
        {"10 MB without a separator", huge_without_separator, 512},
        {"1 MB of separators", std::string(1u << 20, '%'), 0},
        {"NUL bytes only", std::string(4096, '\0'), 0},
        {"text without a separator", "One quote\nand no more", 22},
    };
    for (const quote_case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(next_case());
        velmora_setup setup;
        setup.settings = settings_image(256, {0, 0, 0, 1, 0, 0, 0, 0, 0, 0});
        setup.quotes = c.text;
        ASSERT_NO_FATAL_FAILURE(start(setup, {17}, {}));
        for (int client = 0; client < 10; ++client) {
            bool closed = false;
            const std::string quote = one_quote(&closed);
            EXPECT_TRUE(closed) << "the server did not close";
            EXPECT_LE(quote.size(), 512u);
            if (c.exact_length != SIZE_MAX) {
                EXPECT_EQ(quote.size(), c.exact_length);
            }
            EXPECT_EQ(quote.find('%'), std::string::npos);
        }
        stop_cleanly();
    }
}

// A quote file that is there is never reported missing: with no descriptor
// left for it, the box and the start report say it cannot be opened, and
// why. The listeners started before quote's take the descriptors first; how
// many are left depends on the build, so the limit is raised one by one
// from where the program barely loads.
TEST_F(StartupFiles, QuoteFileWithoutADescriptorLeft)
{
    bool refused = false;
    for (long limit = 4; limit <= 40 && !refused; ++limit) {
        ASSERT_NO_FATAL_FAILURE(next_case());
        velmora_setup setup;
        setup.settings = settings_image(256, {1, 1, 1, 1, 0, 0, 0, 0, 0, 0});
        setup.descriptor_limit = limit;
        ASSERT_TRUE(velmora_start(&run, setup));
        // The start report, or the end of a program that could not load.
        for (int waited = 0; waited < 5000 && velmora_alive(&run) &&
                             velmora_errors(run).find("VELMORA.CFG: ") == std::string::npos;
             waited += 20)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const std::string errors = velmora_errors(run);
        EXPECT_EQ(errors.find("no quote file"), std::string::npos) << "limit " << limit << ": " << errors;
        EXPECT_EQ(errors.find("not found"), std::string::npos) << "limit " << limit << ": " << errors;
        refused = errors.find("quote (cannot open the quote file: Too many open files, Error Nr: 24)") !=
                  std::string::npos;
        if (refused) {
            EXPECT_NE(errors.find("VESK Error: Quote of the day File >VESK.TXT< cannot be opened: Too many open "
                                  "files\nError Nr: 24\n"),
                      std::string::npos)
                << errors;
        }
        if (velmora_alive(&run)) stop_cleanly();
    }
    EXPECT_TRUE(refused) << "no limit left the quote file without a descriptor";
}

TEST_F(StartupFiles, QuoteFileThatIsNoFile)
{
    // A pipe would hold the quote listener in its open for ever, and an
    // endless device (NUL bytes are skipped) in its loading; a folder does
    // not open as a file on Windows. None of them is a quote file, and
    // neither is a missing one.
    const std::function<bool(const std::string&)> odd_files[] = {
        [](const std::string& folder) { return ::mkfifo((folder + "/VESK.TXT").c_str(), 0644) == 0; },
        [](const std::string& folder) { return ::symlink("/dev/zero", (folder + "/VESK.TXT").c_str()) == 0; },
        [](const std::string& folder) { return ::mkdir((folder + "/VESK.TXT").c_str(), 0755) == 0; },
        [](const std::string&) { return true; },
    };
    for (const auto& odd_file : odd_files) {
        ASSERT_NO_FATAL_FAILURE(next_case());
        velmora_setup setup;
        setup.settings = settings_image(256, {1, 0, 0, 1, 0, 0, 0, 0, 0, 0});
        setup.quotes = std::nullopt;
        setup.prepare = odd_file;
        std::vector<std::uint16_t> tcp, udp;
        ASSERT_NO_FATAL_FAILURE(start_and_look(setup, &tcp, &udp));
        EXPECT_EQ(tcp, (std::vector<std::uint16_t>{7})) << "port 17 opened without a quote file";
        EXPECT_NE(velmora_errors(run).find("VESK Error: Quote of the day File >VESK.TXT< not found !"),
                  std::string::npos);
        EXPECT_EQ(probe_tcp(7), "");
        stop_cleanly();
    }
}
