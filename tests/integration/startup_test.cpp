// Start-up as seen from outside: the settings file decides which ports are
// bound, "WAIT" delays the binding, a second instance reports every port it
// cannot take, an altered executable refuses to start and says so, a
// service manager hears of readiness only once the ports are bound (and one
// that never reads holds up nothing), and --quiet keeps the line per
// connection out of the output.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
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
    velmora_process run = launch({flag_echo, flag_time});
    ASSERT_TRUE(wait_for_ports({flag_echo, flag_time}))
        << "tcp ports: " << well_known_tcp_ports().size() << ", stderr: " << program_errors(run);
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
    EXPECT_EQ(program_stop(&run), 0);
    program_discard(&run);
}

// A missing, empty, short or foreign settings file starts nothing; a longer
// file counts by its first 44 bytes. All run side by side: only the last one
// binds anything.
TEST(Startup, UnusableSettingsFilesBindNothing)
{
    struct case_ { const char* what; std::optional<std::vector<unsigned char>> image; };
    std::vector<unsigned char> foreign = settings_image({flag_echo, flag_discard, flag_chargen});
    foreign[1] = 2;
    const std::vector<unsigned char> full = settings_image({flag_echo, flag_discard, flag_chargen});
    case_ cases[] = {
        {"no file", std::nullopt},
        {"empty file", std::vector<unsigned char>()},
        {"43 bytes", std::vector<unsigned char>(full.begin(), full.end() - 1)},
        {"version 512", foreign},
    };
    std::vector<velmora_process> runs;
    for (const case_& c : cases) {
        velmora_setup setup;
        setup.settings = c.image;
        runs.emplace_back();
        velmora_start(&runs.back(), setup);
    }
    // The control: 60 bytes whose first 44 select daytime only.
    velmora_process longer = prepared({flag_daytime});
    std::vector<unsigned char> longer_file = settings_image({flag_daytime});
    longer_file.resize(60, 1);
    write_file(longer.folder + "/VELMORA.CFG", longer_file);
    program_start(&longer, {});
    EXPECT_TRUE(wait_for_ports({flag_daytime}));
    std::this_thread::sleep_for(700ms);
    EXPECT_EQ(well_known_tcp_ports(), (std::set<int>{13}));
    EXPECT_EQ(well_known_udp_ports(), (std::set<int>{13}));
    for (std::size_t i = 0; i < runs.size(); ++i) {
        EXPECT_TRUE(program_alive(&runs[i])) << cases[i].what;
        EXPECT_EQ(program_stop(&runs[i]), 0) << cases[i].what;
        EXPECT_EQ(count_of(program_errors(runs[i]), "failed"), 0) << cases[i].what << ": " << program_errors(runs[i]);
        program_discard(&runs[i]);
    }
    EXPECT_EQ(program_stop(&longer), 0);
    program_discard(&longer);
}

// "WAIT" anywhere in the arguments, case-sensitive, holds the binding back by
// five seconds. Three instances with distinct services run at once.
TEST(Startup, WaitArgumentPausesFiveSeconds)
{
    velmora_process upper = prepared({flag_echo}), inside = prepared({flag_discard}), lower = prepared({flag_daytime});
    const auto started = std::chrono::steady_clock::now();
    program_start(&upper, {.arguments = {"WAIT"}});
    program_start(&inside, {.arguments = {"-x", "xWAITx"}});
    program_start(&lower, {.arguments = {"wait"}});

    EXPECT_TRUE(wait_until([] { return well_known_tcp_ports().count(13) == 1; }, 2500ms))
        << "\"wait\" in lower case must not pause";
    std::this_thread::sleep_until(started + 3s);
    const std::set<int> at_three = well_known_tcp_ports();
    EXPECT_EQ(at_three.count(7), 0u) << "\"WAIT\" bound before 3 s";
    EXPECT_EQ(at_three.count(9), 0u) << "\"xWAITx\" bound before 3 s";
    EXPECT_TRUE(wait_until([] { return well_known_tcp_ports() == std::set<int>{7, 9, 13}; },
                           std::chrono::duration_cast<std::chrono::milliseconds>(started + 7s - std::chrono::steady_clock::now())))
        << "not bound by 7 s";
    for (velmora_process* r : {&upper, &inside, &lower}) {
        EXPECT_EQ(program_stop(r), 0);
        program_discard(r);
    }
}

// On three addresses: 42 listeners fail, and the start report that names
// them all (some 1,500 bytes) reaches standard error whole.
TEST(Startup, SecondInstanceReportsEveryPortInUse)
{
    const std::string quotes = "q%";
    const std::set<service_flag> all = {flag_echo, flag_discard, flag_daytime, flag_quote,
                                        flag_chargen, flag_telnet, flag_time, flag_dns};
    const std::vector<std::string> three = {"--listen", "127.0.0.1", "--listen", "127.0.0.2", "--listen", "::1"};
    velmora_process first = prepared(all);
    write_file(first.folder + "/VESK.TXT", quotes);
    program_start(&first, {.arguments = three});
    ASSERT_TRUE(wait_for_ports(all)) << program_errors(first);
    EXPECT_EQ(well_known_tcp_ports(), (std::set<int>{7, 9, 13, 17, 19, 23, 37, 53}));
    EXPECT_EQ(well_known_udp_ports(), (std::set<int>{7, 9, 13, 19, 37, 53}));

    velmora_process second = prepared(all);
    write_file(second.folder + "/VESK.TXT", quotes);
    program_start(&second, {.arguments = three});
    const std::string box = "VESK - bind(sock) failed: Socket Error Nr: 10048\nVESK already running ?\n";
    const std::string heading = "/VELMORA.CFG: nothing runs: echo (";
    EXPECT_TRUE(wait_until([&] { return program_errors(second).find(heading) != std::string::npos; }, 10s));
    std::this_thread::sleep_for(300ms);
    const std::string errors = program_errors(second);
    EXPECT_EQ(count_of(errors, box), 42) << errors;
    EXPECT_EQ(count_of(errors, "bind(sock) failed"), 42);
    const std::size_t from = errors.find(heading), end = errors.find('\n', from);
    ASSERT_NE(end, std::string::npos) << errors;
    const std::string report = errors.substr(from, end - from);
    EXPECT_GT(report.size(), 1023u) << report;
    EXPECT_EQ(count_of(report, " in use"), 42) << report;
    const std::string last = ", dns (TCP 127.0.0.1:53 in use, TCP 127.0.0.2:53 in use, TCP [::1]:53 in use, UDP "
                             "127.0.0.1:53 in use, UDP 127.0.0.2:53 in use, UDP [::1]:53 in use)";
    EXPECT_EQ(report.substr(report.size() - std::min(report.size(), last.size())), last) << report;
    EXPECT_TRUE(program_alive(&second)) << "failed listeners end themselves, not the program";

    // The first instance is untouched.
    const int c = tcp_connect(7);
    ASSERT_GE(c, 0);
    ASSERT_TRUE(send_all(c, "still here"));
    EXPECT_EQ(read_exactly(c, 10, 2s), "still here");
    ::close(c);
    EXPECT_EQ(count_of(program_errors(first), "failed"), 0);
    EXPECT_EQ(program_stop(&second), 0);
    EXPECT_EQ(program_stop(&first), 0);
    program_discard(&second);
    program_discard(&first);
}

// Sessions that close first leave their connections lingering on the
// service port; a restarted instance must still bind it, as after
// "&Apply changes".
TEST(Startup, RestartBindsPortsWithLingeringConnections)
{
    const std::set<service_flag> on = {flag_daytime, flag_time};
    velmora_process first = launch(on);
    ASSERT_TRUE(wait_for_ports(on)) << program_errors(first);
    for (int port : {13, 37, 13, 37}) {
        const int c = tcp_connect(port);
        ASSERT_GE(c, 0);
        bool closed = false;
        read_until_close(c, 2s, 100, &closed);
        EXPECT_TRUE(closed);
        ::close(c);
    }
    EXPECT_EQ(program_stop(&first), 0);
    program_discard(&first);

    velmora_process second = prepared(on);
    program_start(&second, {});
    EXPECT_TRUE(wait_for_ports(on, 5s)) << program_errors(second);
    EXPECT_EQ(count_of(program_errors(second), "failed"), 0) << program_errors(second);
    EXPECT_EQ(program_stop(&second), 0);
    program_discard(&second);
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
        velmora_process run = prepared({flag_echo, flag_time});
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
        program_start(&run, {});
        EXPECT_EQ(program_wait(&run, 10000), 255) << ch.what;
        EXPECT_EQ(count_of(program_errors(run), "failed"), 0) << ch.what << ": " << program_errors(run);
        // Nobody sees a box here: one line names the altered file.
        EXPECT_EQ(count_of(program_errors(run), "velmora: the program file " + run.program +
                                                    " has been altered since it was built"),
                  1)
            << ch.what << ": " << program_errors(run);
        program_discard(&run);
    }
    ::close(holder);
}

// The Debian package strips its programs and stamps them again: a stripped
// copy fails its check until it is stamped anew, and then starts.
TEST(Startup, AStrippedProgramStartsOnceStampedAgain)
{
    velmora_process run = prepared({flag_daytime});
    const std::string strip = std::string(VELMORA_STRIP) + " --remove-section=.comment " + run.program;
    ASSERT_EQ(std::system(strip.c_str()), 0);
    program_start(&run, {});
    EXPECT_EQ(program_wait(&run, 10000), 255);
    EXPECT_EQ(count_of(program_errors(run), "has been altered"), 1) << program_errors(run);
    EXPECT_EQ(run_to_end(VELMORA_STAMP_TOOL_PATH, {.arguments = {run.program}}, 10000).status, 0);
    program_start(&run, {});
    EXPECT_TRUE(wait_for_ports({flag_daytime})) << program_errors(run);
    EXPECT_EQ(program_stop(&run), 0) << program_errors(run);
    program_discard(&run);
}

namespace {

// The address that NOTIFY_SOCKET names as `name` ('@' first: an abstract
// name); `size` receives its length.
sockaddr_un notification_address(const std::string& name, socklen_t* size)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.data(), name.size());
    if (name[0] == '@') address.sun_path[0] = '\0';
    *size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size());
    return address;
}

// A service manager's notification socket: a Unix datagram socket at `name`.
int notification_socket(const std::string& name)
{
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    socklen_t size = 0;
    const sockaddr_un address = notification_address(name, &size);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) != 0) return -1;
    return fd;
}

// The next notification, or "" when none comes within `limit_ms`.
std::string notification(int fd, int limit_ms)
{
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, limit_ms) != 1) return "";
    char text[512];
    const ssize_t n = ::recv(fd, text, sizeof text, 0);
    return n > 0 ? std::string(text, static_cast<std::size_t>(n)) : "";
}

} // namespace

// READY=1 comes once every selected port is bound, with the services that
// serve; the ports are bound when it arrives.
TEST(Startup, TellsAServiceManagerItIsReadyOnceThePortsAreBound)
{
    const std::string name = "@velmora-notify-" + std::to_string(::getpid());
    const int manager = notification_socket(name);
    ASSERT_GE(manager, 0);
    velmora_process run = prepared({flag_echo, flag_quote, flag_time});
    write_file(run.folder + "/VESK.TXT", std::string("A quote.\n%\n"));
    program_start(&run, {.environment = {"NOTIFY_SOCKET=" + name}});
    const std::string told = notification(manager, 10000);
    const std::set<int> tcp = well_known_tcp_ports();
    const std::set<int> udp = well_known_udp_ports();
    EXPECT_EQ(told, "READY=1\nSTATUS=running echo, quote, time") << program_errors(run);
    EXPECT_EQ(tcp, (std::set<int>{7, 17, 37}));
    EXPECT_EQ(udp, (std::set<int>{7, 37}));
    EXPECT_EQ(notification(manager, 300), "");
    EXPECT_EQ(program_stop(&run), 0);
    program_discard(&run);
    ::close(manager);
}

// With every selected port taken, a Velmora under a service manager says
// why and ends with status 1, and never claims to be ready; with one of a
// service's two ports free it is ready.
TEST(Startup, UnderAServiceManagerNothingBoundEndsWithStatusOne)
{
    velmora_process run = prepared({flag_daytime});
    // A path this time, in Velmora's scratch folder.
    const std::string name = run.folder + "/notify";
    const int manager = notification_socket(name);
    ASSERT_GE(manager, 0);
    std::vector<int> holders;
    for (int type : {SOCK_STREAM, SOCK_DGRAM}) {
        const int fd = ::socket(AF_INET, type, 0);
        // Earlier tests' daytime connections may linger in TIME_WAIT; a
        // listening holder still keeps Velmora off the port.
        const int on = 1;
        if (type == SOCK_STREAM) {
            ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        }
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(13);
        ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
        if (type == SOCK_STREAM) {
            ASSERT_EQ(::listen(fd, 1), 0);
        }
        holders.push_back(fd);
    }
    program_start(&run, {.environment = {"NOTIFY_SOCKET=" + name}});
    EXPECT_EQ(program_wait(&run, 10000), 1) << program_errors(run);
    const std::string told = notification(manager, 100);
    EXPECT_EQ(told.find("READY=1"), std::string::npos) << told;
    EXPECT_EQ(told, "STATUS=nothing runs: daytime (TCP port 13 in use, UDP port 13 in use)");
    EXPECT_EQ(count_of(program_errors(run), "No listener could start: ending with status 1"), 1) << program_errors(run);

    // One of the two free is enough to be ready, and the status says which.
    ::close(holders[0]);
    program_start(&run, {.environment = {"NOTIFY_SOCKET=" + name}});
    EXPECT_EQ(notification(manager, 10000), "READY=1\nSTATUS=running daytime (TCP only: UDP port 13 in use)")
        << program_errors(run);
    EXPECT_EQ(program_stop(&run), 0);
    program_discard(&run);
    ::close(holders[1]);
    ::close(manager);
}

// With two addresses, the start report and the status name the address of
// each listener that failed, and the missing quote file once.
TEST(Startup, TheReportNamesTheAddressEachFailedListenerHad)
{
    const std::string name = "@velmora-two-" + std::to_string(::getpid());
    const int manager = notification_socket(name);
    ASSERT_GE(manager, 0);
    int holders[2];
    for (int i = 0; i < 2; ++i) {
        holders[i] = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 loopback{};
        loopback.sin6_family = AF_INET6;
        loopback.sin6_addr = in6addr_loopback;
        loopback.sin6_port = htons(i == 0 ? 7 : 23);
        ASSERT_EQ(::bind(holders[i], reinterpret_cast<sockaddr*>(&loopback), sizeof loopback), 0);
        ASSERT_EQ(::listen(holders[i], 1), 0);
    }
    velmora_process run = prepared({flag_echo, flag_quote, flag_telnet});
    program_start(&run, {.arguments = {"--listen", "127.0.0.1", "--listen", "::1"},
                         .environment = {"NOTIFY_SOCKET=" + name}});
    // Telnet has no UDP listener to lack: no "TCP only" for it.
    const std::string account =
        "running echo (TCP [::1]:7 in use), telnet (TCP [::1]:23 in use); not running: quote (no quote file)";
    EXPECT_EQ(notification(manager, 10000), "READY=1\nSTATUS=" + account) << program_errors(run);
    EXPECT_TRUE(wait_until([&] { return count_of(program_errors(run), "/VELMORA.CFG: " + account + "\n") == 1; }, 3s))
        << program_errors(run);
    EXPECT_EQ(program_stop(&run), 0);
    program_discard(&run);
    for (const int holder : holders) ::close(holder);
    ::close(manager);
}

// Words that are neither WAIT nor an option are still ignored, and named in
// one line: "-l 127.0.0.2" leaves every address served.
TEST(Startup, StrayWordsAreNamedInOneLine)
{
    velmora_process run = prepared({flag_echo});
    program_start(&run, {.arguments = {"-l", "127.0.0.2"}});
    ASSERT_TRUE(wait_for_ports({flag_echo})) << program_errors(run);
    EXPECT_TRUE(echo_answers("on 127.0.0.1"));
    EXPECT_EQ(count_of(program_errors(run), "Velmora: ignored -l 127.0.0.2: only WAIT and the options that begin with "
                                            "-- are read\n"),
              1)
        << program_errors(run);
    EXPECT_EQ(program_stop(&run), 0);
    program_discard(&run);
}

// A refused option is the first and only thing said.
TEST(Startup, AWrongOptionIsRefusedBeforeAnythingIsSaid)
{
    velmora_process run = prepared({flag_echo});
    program_start(&run, {.arguments = {"--bogus"}});
    EXPECT_EQ(program_wait(&run, 10000), 255);
    EXPECT_EQ(program_errors(run), "Velmora V1.0: --bogus: no such option\n");
    EXPECT_EQ(program_output(run), "");
    program_discard(&run);
}

// A notification socket that never reads, its queue already full: the
// notification is dropped, said so, and SIGTERM still ends Velmora.
TEST(Startup, AFullNotificationSocketHoldsNeitherTheStartNorTheEnd)
{
    const std::string name = "@velmora-full-" + std::to_string(::getpid());
    const int manager = notification_socket(name);
    ASSERT_GE(manager, 0);
    socklen_t size = 0;
    const sockaddr_un address = notification_address(name, &size);
    const int filler = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int queued = 0;
    while (queued < 100000 &&
           ::sendto(filler, "x", 1, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&address), size) == 1)
        ++queued;
    ASSERT_EQ(errno, EAGAIN) << "after " << queued << " datagrams";
    velmora_process run = prepared({flag_echo});
    program_start(&run, {.environment = {"NOTIFY_SOCKET=" + name}});
    ASSERT_TRUE(wait_for_ports({flag_echo})) << program_errors(run);
    EXPECT_TRUE(wait_until([&] { return count_of(program_errors(run), "notification at once; it was dropped") == 1; },
                           5s))
        << program_errors(run);
    EXPECT_EQ(program_stop(&run, 5000), 0) << program_errors(run);
    program_discard(&run);
    ::close(filler);
    ::close(manager);
}

// --quiet: connections leave no line on standard output; without it each
// does.
TEST(Startup, QuietWritesNoLinePerConnection)
{
    for (const bool quiet : {false, true}) {
        velmora_process run = prepared({flag_echo});
        program_start(&run, {.arguments = quiet ? std::vector<std::string>{"--quiet"} : std::vector<std::string>{}});
        ASSERT_TRUE(wait_for_ports({flag_echo})) << program_errors(run);
        for (int i = 0; i < 3; ++i) {
            const int c = tcp_connect(7);
            ASSERT_GE(c, 0);
            ASSERT_TRUE(send_all(c, "x"));
            EXPECT_EQ(read_exactly(c, 1, 2s), "x");
            ::close(c);
        }
        // The lines come through the output queue: a second is plenty.
        const auto lines = [&] { return count_of(program_output(run), "Executing server thread for"); };
        if (quiet) {
            EXPECT_FALSE(wait_until([&] { return lines() > 0; }, 1s)) << program_output(run);
        } else {
            EXPECT_TRUE(wait_until([&] { return lines() == 3; }, 3s)) << program_output(run);
        }
        EXPECT_EQ(program_stop(&run), 0);
        program_discard(&run);
    }
}
