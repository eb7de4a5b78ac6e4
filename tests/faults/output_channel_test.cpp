// What Velmora's own output channels and start-up must survive: a reader of
// standard output that goes away or stops reading, standard descriptors that
// the caller left closed, and a thread limit that lets only some listeners
// start. None of them may stop a service or pass unsaid.
#include <chrono>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <fstream>
#include <regex>
#include <thread>
#include <unistd.h>

#include "fault_fixture.h"

namespace {

constexpr std::size_t daytime_text_size = 25;

// One daytime connection: true when the whole text came and the server closed.
bool daytime_served()
{
    const int fd = tcp_connect(13, 3000);
    if (fd < 0) return false;
    bool closed = false;
    const std::string text = tcp_read(fd, 100, 3000, &closed);
    ::close(fd);
    return closed && text.size() == daytime_text_size;
}

// A pipe for Velmora's standard output or error, closed at the end of the
// test. With `room`, the pipe holds only that many bytes (the read end is
// -1 when the system will not make it so).
struct output_pipe {
    int read_end = -1;
    int write_end = -1;
    explicit output_pipe(int room = 0)
    {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return;
        read_end = ends[0];
        write_end = ends[1];
        if (room > 0 && ::fcntl(read_end, F_SETPIPE_SZ, room) != room) {
            ::close(read_end);
            read_end = -1;
        }
    }
    ~output_pipe()
    {
        if (read_end >= 0) ::close(read_end);
        if (write_end >= 0) ::close(write_end);
    }
};

std::string drain(int fd)
{
    std::string text;
    char block[4096];
    ssize_t n;
    while ((n = ::read(fd, block, sizeof block)) > 0) text.append(block, static_cast<std::size_t>(n));
    return text;
}

} // namespace

class OutputChannel : public VelmoraFault {};

TEST_F(OutputChannel, AReaderThatGoesAwayEndsNothing)
{
    output_pipe out;
    ASSERT_GE(out.read_end, 0);
    velmora_setup setup;
    setup.output = {stream_kind::descriptor, out.write_end};
    start(setup);
    ::close(out.read_end);
    out.read_end = -1;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(daytime_served()) << "connection " << i;
    EXPECT_EQ(probe_every_listener(), "");
    stop_cleanly();
}

// A log collector that stalls: the pipe fills, lines are dropped and counted,
// no listener waits, and the count comes once the reader reads again.
TEST_F(OutputChannel, AnUnreadOutputStopsNoListenerAndTheEndStaysQuick)
{
    output_pipe out(4096);
    ASSERT_GE(out.read_end, 0);
    velmora_setup setup;
    setup.output = {stream_kind::descriptor, out.write_end};
    start(setup);
    // The pipe holds about 130 lines and the queue 1024: the rest are dropped.
    int served = 0;
    for (int i = 0; i < 1500; ++i) served += daytime_served();
    EXPECT_EQ(served, 1500);

    ASSERT_EQ(::fcntl(out.read_end, F_SETFL, O_NONBLOCK), 0);
    std::string text = drain(out.read_end);
    EXPECT_NE(text.find("Executing server thread for "), std::string::npos);
    // The reader reads again: the next line brings the count of those lost.
    EXPECT_TRUE(daytime_served());
    const std::regex count_line(R"(\((\d+) lines of output were dropped: standard output was not read\)\n)");
    std::smatch found;
    for (int waited = 0; waited < 3000 && !std::regex_search(text, found, count_line); waited += 50) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        text += drain(out.read_end);
    }
    ASSERT_FALSE(found.empty()) << text.substr(text.size() > 400 ? text.size() - 400 : 0);
    EXPECT_GT(std::stol(found[1].str()), 200);

    // Fill the pipe again and end Velmora while it is full.
    for (int i = 0; i < 200; ++i) daytime_served();
    ASSERT_TRUE(velmora_alive(&run));
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(velmora_stop(&run, 1000), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(1));
    EXPECT_EQ(sanitizer_reports(run), "");
}

// Port 53 shows a box before every connection, which without a desktop is
// a line on standard error: a standard error that nobody reads must not
// stop the port. The boxes are dropped and counted instead.
TEST_F(OutputChannel, AnUnreadStandardErrorStopsNoListener)
{
    output_pipe err(4096);
    ASSERT_GE(err.read_end, 0);
    velmora_setup setup;
    setup.errors = {stream_kind::descriptor, err.write_end};
    start(setup);
    // The pipe holds some sixty boxes, the queue sixty-four more.
    int served = 0;
    for (int i = 0; i < 600 && served == i; ++i) {
        const int fd = tcp_connect(53, 3000);
        if (fd < 0) break;
        served += tcp_send(fd, "x", 1, 3000) && tcp_read(fd, 1, 3000) == "x";
        ::close(fd);
    }
    EXPECT_EQ(served, 600);
    EXPECT_TRUE(daytime_served());

    ASSERT_EQ(::fcntl(err.read_end, F_SETFL, O_NONBLOCK), 0);
    std::string text = drain(err.read_end);
    EXPECT_NE(text.find("TCP: "), std::string::npos);
    const std::regex count_line(R"(\((\d+) messages were dropped: standard error was not read\)\n)");
    std::smatch found;
    for (int waited = 0; waited < 3000 && !std::regex_search(text, found, count_line); waited += 50) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        text += drain(err.read_end);
    }
    ASSERT_FALSE(found.empty()) << text.substr(text.size() > 400 ? text.size() - 400 : 0);
    EXPECT_GT(std::stol(found[1].str()), 300);
    stop_cleanly();
}

TEST_F(OutputChannel, ClosedStandardDescriptorsAreNotTakenBySockets)
{
    velmora_setup setup;
    setup.output.kind = stream_kind::closed;
    setup.errors.kind = stream_kind::closed;
    start(setup);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(daytime_served()) << "connection " << i;
    // Port 53's box goes to standard error.
    EXPECT_EQ(probe_tcp(53), "");
    EXPECT_EQ(probe_every_listener(), "");
    stop_cleanly();
}

// Under a thread limit only some listeners start: each one that does not is
// named in a box, and the start-up line names the services that run.
TEST_F(OutputChannel, ListenersThatCannotStartAreNamed)
{
    // Ports below 1024 for an ordinary user, in this namespace only.
    std::ofstream("/proc/sys/net/ipv4/ip_unprivileged_port_start") << 0;
    velmora_setup setup;
    setup.user = 64123; // a user of its own, so that its thread count is Velmora's
    setup.thread_limit = 8;
    ASSERT_TRUE(velmora_start(&run, setup));
    ASSERT_TRUE(velmora_started(&run, 10000)) << velmora_errors(run);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(velmora_alive(&run));
    const std::string errors = velmora_errors(run);
    const std::regex not_started(R"(VESK - thread start failed: Error Nr: \d+\nThe (\w+) (TCP|UDP) listener \(port (\d+)\) cannot start)");
    int boxes = 0;
    for (auto m = std::sregex_iterator(errors.begin(), errors.end(), not_started); m != std::sregex_iterator(); ++m) {
        ++boxes;
        const int port = std::stoi((*m)[3].str());
        const auto& bound = (*m)[2].str() == "TCP" ? listening_tcp_ports() : bound_udp_ports();
        EXPECT_EQ(bound.count(port), 0u) << (*m)[0].str();
    }
    EXPECT_GT(boxes, 0) << errors;
    EXPECT_EQ(static_cast<std::size_t>(boxes) + listening_tcp_ports().size() + bound_udp_ports().size(), 14u) << errors;
    EXPECT_NE(errors.find("/VELMORA.CFG: running echo"), std::string::npos) << errors;
    stop_cleanly();
}

// Under a thread limit that the listeners are within but their sessions
// are not, a connection whose session thread cannot start is closed, and
// that is said: the first at once, the rest counted once sessions start
// again.
TEST_F(OutputChannel, ConnectionsWithoutASessionThreadAreSaid)
{
    std::ofstream("/proc/sys/net/ipv4/ip_unprivileged_port_start") << 0;
    velmora_setup setup;
    setup.settings = settings_image(256, {1}); // echo alone
    setup.user = 64124;
    setup.thread_limit = 200;
    start(setup, {7}, {7});
    std::vector<int> held;
    for (int i = 0; i < 500; ++i) {
        const int fd = tcp_connect(7, 3000);
        if (fd < 0) break;
        tcp_send(fd, "x", 1, 3000);
        held.push_back(fd);
    }
    ASSERT_EQ(held.size(), 500u);
    int echoed = 0, closed_at_once = 0;
    for (int fd : held) {
        bool closed = false;
        const std::string got = tcp_read(fd, 1, 3000, &closed);
        echoed += got == "x";
        closed_at_once += got.empty() && closed;
    }
    for (int fd : held) ::close(fd);
    std::printf("echoed %d, closed at once %d\n", echoed, closed_at_once);
    EXPECT_EQ(echoed + closed_at_once, 500);
    ASSERT_GT(closed_at_once, 1) << "the limit did not bite";
    // The sessions end; the next connection has a thread again.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const int fd = tcp_connect(7, 3000);
    ASSERT_GE(fd, 0);
    EXPECT_TRUE(tcp_send(fd, "y", 1, 3000));
    EXPECT_EQ(tcp_read(fd, 1, 3000), "y");
    ::close(fd);
    const std::regex first(R"(Server thread for \d+ cannot start \(Error Nr: \d+\): closed\n)");
    const std::regex count(R"(\((\d+) more connections closed: no server thread started\)\n)");
    std::string output;
    std::smatch found;
    for (int waited = 0; waited < 3000 && !std::regex_search(output, found, count); waited += 50) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        output = program_output(run);
    }
    EXPECT_TRUE(std::regex_search(output, first)) << output.substr(output.size() > 400 ? output.size() - 400 : 0);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(std::stol(found[1].str()) + 1, closed_at_once);
    stop_cleanly();
}

// The start line is written once the listeners have tried their ports, and
// says for every selected service whether it serves or what stopped it.
TEST_F(OutputChannel, TheStartLineNamesWhatStoppedEachService)
{
    // TCP 7 and UDP 13 are taken, and there is no quote file.
    const int tcp7 = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int udp13 = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_port = htons(7);
    ASSERT_EQ(::bind(tcp7, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    ASSERT_EQ(::listen(tcp7, 1), 0);
    any.sin_port = htons(13);
    ASSERT_EQ(::bind(udp13, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);
    velmora_setup setup;
    setup.quotes = std::nullopt;
    ASSERT_TRUE(velmora_start(&run, setup));
    ASSERT_TRUE(velmora_started(&run, 10000)) << velmora_errors(run);
    EXPECT_NE(velmora_errors(run).find("Velmora: " + run.folder +
                                       "/VELMORA.CFG: running echo (UDP only: TCP port 7 in use), discard, daytime "
                                       "(TCP only: UDP port 13 in use), chargen, telnet, time, dns; not running: "
                                       "quote (no quote file)\n"),
              std::string::npos)
        << velmora_errors(run);

    // A second instance beside the first finds every port taken.
    velmora_process second;
    ASSERT_TRUE(velmora_start(&second, setup));
    ASSERT_TRUE(velmora_started(&second, 10000)) << velmora_errors(second);
    const std::string errors = velmora_errors(second);
    velmora_discard(&second);
    ::close(tcp7);
    ::close(udp13);
    EXPECT_NE(errors.find("/VELMORA.CFG: nothing runs: echo (TCP port 7 in use, UDP port 7 in use), discard (TCP port "
                          "9 in use, UDP port 9 in use), daytime (TCP port 13 in use, UDP port 13 in use), quote (no "
                          "quote file), chargen (TCP port 19 in use, UDP port 19 in use), telnet (TCP port 23 in use), "
                          "time (TCP port 37 in use, UDP port 37 in use), dns (TCP port 53 in use, UDP port 53 in use)\n"),
              std::string::npos)
        << errors;
    stop_cleanly();
}

// Without an icon or dialog, one line says which file was read and what runs,
// or why nothing does.
TEST_F(OutputChannel, TheStartLineSaysWhatRunsOrWhyNothingDoes)
{
    const struct {
        std::optional<std::vector<unsigned char>> settings;
        const char* line;
    } cases[] = {
        {settings_image(256, {1, 0, 0, 0, 0, 0, 1}), "/VELMORA.CFG: running echo, time\n"},
        {std::nullopt, "/VELMORA.CFG: nothing runs: the file is missing\n"},
        {std::vector<unsigned char>(43, 1), "/VELMORA.CFG: nothing runs: the file is shorter than 44 bytes\n"},
        {settings_image(257, {1, 1}), "/VELMORA.CFG: nothing runs: the file is of another version\n"},
        {settings_image(256, {}), "/VELMORA.CFG: nothing runs: no service is selected\n"},
    };
    for (const auto& c : cases) {
        velmora_setup setup;
        setup.settings = c.settings;
        ASSERT_TRUE(velmora_start(&run, setup));
        ASSERT_TRUE(velmora_started(&run, 10000));
        const std::string expected = "Velmora: " + run.folder + c.line;
        EXPECT_NE(velmora_errors(run).find(expected), std::string::npos) << velmora_errors(run);
        stop_cleanly();
        velmora_discard(&run);
        run = velmora_process{};
        ASSERT_TRUE(enter_fresh_network_namespace());
    }
}
