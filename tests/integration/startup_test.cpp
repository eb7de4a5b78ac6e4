// Start-up as seen from outside: the settings file decides which ports are
// bound, "WAIT" delays the binding, a second instance reports every port it
// cannot take, and an altered executable refuses to start.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "harness.h"

using namespace std::chrono_literals;

namespace {

int count_of(const std::string& text, const std::string& what)
{
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

bool refused(int port)
{
    const int fd = tcp_connect(port);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno == ECONNREFUSED;
}

} // namespace

TEST(Startup, SelectionDecidesExactlyWhichPortsAreBound)
{
    velmora_run run = launch({flag_echo, flag_time});
    ASSERT_TRUE(wait_for_ports({flag_echo, flag_time}))
        << "tcp ports: " << well_known_tcp_ports().size() << ", stderr: " << stderr_text(run);
    EXPECT_EQ(well_known_tcp_ports(), (std::set<int>{7, 37}));
    EXPECT_EQ(well_known_udp_ports(), (std::set<int>{7, 37}));
    for (int port : {9, 13, 17, 19, 23, 53}) EXPECT_TRUE(refused(port)) << port;

    const int u = udp_socket();
    for (int port : {9, 13, 19, 53}) send_datagram(u, port, "x");
    send_datagram(u, 37, "x");
    const datagram d = receive_datagram(u, 2s);
    EXPECT_TRUE(d.arrived);
    EXPECT_EQ(d.bytes.size(), 4u) << "only the time service answers";
    EXPECT_FALSE(receive_datagram(u, 300ms).arrived);
    ::close(u);

    const int c = tcp_connect(7);
    ASSERT_GE(c, 0);
    ASSERT_TRUE(send_all(c, "ping"));
    EXPECT_EQ(read_exactly(c, 4, 2s), "ping");
    ::close(c);
    EXPECT_EQ(stop(run), 0);
    remove_scratch(run);
}

// A missing, empty, short or foreign settings file starts nothing; a longer
// file counts by its first 44 bytes. All run side by side: only the last one
// binds anything.
TEST(Startup, UnusableSettingsFilesBindNothing)
{
    struct case_ { const char* what; bool write; std::string image; };
    std::string foreign = settings_image({flag_echo, flag_discard, flag_chargen});
    foreign[1] = '\x02';
    const std::string full = settings_image({flag_echo, flag_discard, flag_chargen});
    case_ cases[] = {
        {"no file", false, ""},
        {"empty file", true, ""},
        {"43 bytes", true, full.substr(0, 43)},
        {"version 512", true, foreign},
    };
    std::vector<velmora_run> runs;
    for (const case_& c : cases) {
        velmora_run run = make_scratch();
        if (c.write) write_file(run.folder + "/VELMORA.CFG", c.image);
        start(run);
        runs.push_back(run);
    }
    // The control: 60 bytes whose first 44 select daytime only.
    velmora_run longer = make_scratch();
    write_file(longer.folder + "/VELMORA.CFG", settings_image({flag_daytime}) + std::string(16, '\x01'));
    start(longer);
    EXPECT_TRUE(wait_for_ports({flag_daytime}));
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(well_known_tcp_ports(), (std::set<int>{13}));
    EXPECT_EQ(well_known_udp_ports(), (std::set<int>{13}));
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_TRUE(running(runs[i])) << cases[i].what;
        EXPECT_EQ(stop(runs[i]), 0) << cases[i].what;
        EXPECT_EQ(count_of(stderr_text(runs[i]), "failed"), 0) << cases[i].what << ": " << stderr_text(runs[i]);
        remove_scratch(runs[i]);
    }
    EXPECT_EQ(stop(longer), 0);
    remove_scratch(longer);
}

// "WAIT" anywhere in the arguments, case-sensitive, holds the binding back by
// five seconds. Three instances with distinct services run at once.
TEST(Startup, WaitArgumentPausesFiveSeconds)
{
    velmora_run upper = make_scratch(), inside = make_scratch(), lower = make_scratch();
    write_file(upper.folder + "/VELMORA.CFG", settings_image({flag_echo}));
    write_file(inside.folder + "/VELMORA.CFG", settings_image({flag_discard}));
    write_file(lower.folder + "/VELMORA.CFG", settings_image({flag_daytime}));
    const auto started = std::chrono::steady_clock::now();
    start(upper, {"WAIT"});
    start(inside, {"-x", "xWAITx"});
    start(lower, {"wait"});

    EXPECT_TRUE(wait_until([] { return well_known_tcp_ports().count(13) == 1; }, 2500ms))
        << "\"wait\" in lower case must not pause";
    std::this_thread::sleep_until(started + 3s);
    const std::set<int> at_three = well_known_tcp_ports();
    EXPECT_EQ(at_three.count(7), 0u) << "\"WAIT\" bound before 3 s";
    EXPECT_EQ(at_three.count(9), 0u) << "\"xWAITx\" bound before 3 s";
    EXPECT_TRUE(wait_until([] { return well_known_tcp_ports() == std::set<int>{7, 9, 13}; },
                           std::chrono::duration_cast<std::chrono::milliseconds>(started + 7s - std::chrono::steady_clock::now())))
        << "not bound by 7 s";
    for (velmora_run* r : {&upper, &inside, &lower}) {
        EXPECT_EQ(stop(*r), 0);
        remove_scratch(*r);
    }
}

TEST(Startup, SecondInstanceReportsEveryPortInUse)
{
    const std::string quotes = "q%";
    const std::set<service_flag> all = {flag_echo, flag_discard, flag_daytime, flag_quote,
                                        flag_chargen, flag_telnet, flag_time, flag_dns};
    velmora_run first = launch(all, &quotes);
    ASSERT_TRUE(wait_for_ports(all)) << stderr_text(first);
    EXPECT_EQ(well_known_tcp_ports(), (std::set<int>{7, 9, 13, 17, 19, 23, 37, 53}));
    EXPECT_EQ(well_known_udp_ports(), (std::set<int>{7, 9, 13, 19, 37, 53}));

    velmora_run second = make_scratch();
    write_file(second.folder + "/VELMORA.CFG", settings_image(all));
    write_file(second.folder + "/VESK.TXT", quotes);
    start(second);
    const std::string box = "VESK - bind(sock) failed: Socket Error Nr: 10048\nVESK already running ?\n";
    EXPECT_TRUE(wait_until([&] { return count_of(stderr_text(second), box) >= 14; }, 10s));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(count_of(stderr_text(second), box), 14) << stderr_text(second);
    EXPECT_EQ(count_of(stderr_text(second), "bind(sock) failed"), 14);
    EXPECT_TRUE(running(second)) << "failed listeners end themselves, not the program";

    // The first instance is untouched.
    const int c = tcp_connect(7);
    ASSERT_GE(c, 0);
    ASSERT_TRUE(send_all(c, "still here"));
    EXPECT_EQ(read_exactly(c, 10, 2s), "still here");
    ::close(c);
    EXPECT_EQ(count_of(stderr_text(first), "failed"), 0);
    EXPECT_EQ(stop(second), 0);
    EXPECT_EQ(stop(first), 0);
    remove_scratch(second);
    remove_scratch(first);
}

// Sessions that close first leave their connections lingering on the
// service port; a restarted instance must still bind it, as after
// "&Apply changes".
TEST(Startup, RestartBindsPortsWithLingeringConnections)
{
    const std::set<service_flag> on = {flag_daytime, flag_time};
    velmora_run first = launch(on);
    ASSERT_TRUE(wait_for_ports(on)) << stderr_text(first);
    for (int port : {13, 37, 13, 37}) {
        const int c = tcp_connect(port);
        ASSERT_GE(c, 0);
        bool closed = false;
        read_until_close(c, 2s, 100, &closed);
        EXPECT_TRUE(closed);
        ::close(c);
    }
    EXPECT_EQ(stop(first), 0);
    remove_scratch(first);

    velmora_run second = make_scratch();
    write_file(second.folder + "/VELMORA.CFG", settings_image(on));
    start(second);
    EXPECT_TRUE(wait_for_ports(on, 5s)) << stderr_text(second);
    EXPECT_EQ(count_of(stderr_text(second), "failed"), 0) << stderr_text(second);
    EXPECT_EQ(stop(second), 0);
    remove_scratch(second);
}

// An altered copy of the executable ends with status 255 (-1) before any
// listener starts: with port 7 held here, a listener would report its bind.
TEST(Startup, AlteredExecutableExits255WithoutBinding)
{
    const int holder = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(7);
    ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);

    struct change { const char* what; bool append; };
    for (const change ch : {change{"one byte changed", false}, change{"one byte appended", true}}) {
        velmora_run run = make_scratch();
        write_file(run.folder + "/VELMORA.CFG", settings_image({flag_echo, flag_time}));
        std::string image = read_file(run.program);
        ASSERT_GT(image.size(), 1000u);
        if (ch.append) {
            image += '\0';
        } else {
            // A byte of the compiler's note, which no code reads.
            std::size_t at = image.find("GCC: (");
            if (at == std::string::npos) at = image.size() - 1;
            image[at + 1] ^= 0x20;
        }
        write_file(run.program, image);
        start(run);
        EXPECT_EQ(wait_exit(run, 10s), 255) << ch.what;
        EXPECT_EQ(count_of(stderr_text(run), "failed"), 0) << ch.what << ": " << stderr_text(run);
        remove_scratch(run);
    }
    ::close(holder);
}
