// Per-source limits, the client log and the counters, with sources outside
// loopback: addresses added to lo inside the test's private namespace
// (10.9.0.2 and 10.9.0.3, and 2001:db8::2 and ::3 of one /64), which reach
// Velmora as any host of a network would.
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "fault_fixture.h"

namespace {

bool shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// A socket of `source`'s family bound to it, port 0.
int bound_socket(const char* source, int type)
{
    sockaddr_storage here{};
    socklen_t length = 0;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&here);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&here);
    if (::inet_pton(AF_INET, source, &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        length = sizeof *v4;
    } else if (::inet_pton(AF_INET6, source, &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        length = sizeof *v6;
    } else {
        return -1;
    }
    const int fd = ::socket(here.ss_family, type | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&here), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// The same loopback host as the source's family sees it, with the port.
sockaddr_storage service_address(const char* source, std::uint16_t port, socklen_t* length)
{
    sockaddr_storage to{};
    if (std::string(source).find(':') == std::string::npos) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&to);
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        *length = sizeof *v4;
    } else {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&to);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        v6->sin6_addr = in6addr_loopback;
        *length = sizeof *v6;
    }
    return to;
}

// A connection from `source` to the service's port; -1 when none is made.
int connect_from(const char* source, std::uint16_t port)
{
    const int fd = bound_socket(source, SOCK_STREAM);
    socklen_t length = 0;
    const sockaddr_storage to = service_address(source, port, &length);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&to), length) == 0) return fd;
    if (fd >= 0) ::close(fd);
    return -1;
}

// Sends `count` datagrams of `size` bytes from `source` to the port as fast
// as it can, then counts the answers until none came for 300 ms.
int answers_to_a_flood(const char* source, std::uint16_t port, int count, int size = 1)
{
    const int fd = bound_socket(source, SOCK_DGRAM);
    if (fd < 0) return -1;
    const int room = 4 << 20;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &room, sizeof room);
    socklen_t length = 0;
    const sockaddr_storage to = service_address(source, port, &length);
    const std::vector<unsigned char> payload(static_cast<std::size_t>(size), 'x');
    for (int i = 0; i < count; ++i)
        ::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to), length);
    int answers = 0;
    unsigned char buffer[1024];
    while (ready_within(fd, POLLIN, 300) && ::recv(fd, buffer, sizeof buffer, 0) >= 0) ++answers;
    ::close(fd);
    return answers;
}

// Echo exchanges one after another, each waiting for its answer: how many
// were answered.
int echo_exchanges(const char* source, int count)
{
    const int fd = bound_socket(source, SOCK_DGRAM);
    socklen_t length = 0;
    const sockaddr_storage to = service_address(source, 7, &length);
    int answered = 0;
    unsigned char buffer[64];
    for (int i = 0; i < count && fd >= 0; ++i) {
        ::sendto(fd, &i, sizeof i, 0, reinterpret_cast<const sockaddr*>(&to), length);
        answered += ready_within(fd, POLLIN, 1000) && ::recv(fd, buffer, sizeof buffer, 0) == sizeof i;
    }
    if (fd >= 0) ::close(fd);
    return answered;
}

// Whether echo answers on the connection at once: false for one that the
// limit closed.
bool echoes(int fd)
{
    if (fd < 0 || !tcp_send(fd, "ping", 4, 1000)) return false;
    return tcp_read(fd, 4, 2000) == "ping";
}

int count_of(const std::string& text, const std::string& part)
{
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

// Waits until standard output holds `part` (the writer gathers lines for a
// moment first).
std::string output_with(const velmora_process& run, const std::string& part)
{
    std::string text;
    for (int i = 0; i < 100 && (text = program_output(run)).find(part) == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return text;
}

} // namespace

class SourceLimits : public VelmoraFault {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(VelmoraFault::SetUp());
        for (const char* added : {"10.9.0.2/32", "10.9.0.3/32"}) ASSERT_TRUE(shell(std::string("ip addr add ") + added + " dev lo"));
        for (const char* added : {"2001:db8::2/128", "2001:db8::3/128"})
            ASSERT_TRUE(shell(std::string("ip -6 addr add ") + added + " dev lo nodad"));
    }

    void start_with(std::vector<std::string> arguments)
    {
        velmora_setup setup;
        setup.arguments = std::move(arguments);
        start(setup);
    }
};

TEST_F(SourceLimits, AFloodGetsItsBudgetAndLoopbackIsUnlimited)
{
    start_with({});
    // 50 a second with a burst of 10: a flood sent within a fraction of a
    // second gets the burst and what a second's rate adds meanwhile.
    const auto began = std::chrono::steady_clock::now();
    const int v4 = answers_to_a_flood("10.9.0.2", 19, 2000);
    const int v6 = answers_to_a_flood("2001:db8::2", 19, 2000);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("chargen answers to 2,000 datagrams: from 10.9.0.2 %d, from 2001:db8::2 %d (%.2f s)\n", v4, v6, seconds);
    EXPECT_GE(v4, 10);
    EXPECT_LE(v4, 10 + 50 * seconds + 1);
    EXPECT_GE(v6, 1);
    EXPECT_LE(v6, 10 + 50 * seconds + 1);
    // Another address of the same /64 shares its budget, which is spent.
    EXPECT_LE(answers_to_a_flood("2001:db8::3", 19, 200), 50 * seconds + 1);
    // Another service has a budget of its own.
    EXPECT_GE(answers_to_a_flood("10.9.0.2", 13, 5), 5);
    EXPECT_EQ(echo_exchanges("127.0.0.1", 300), 300) << "loopback has no limit";
    EXPECT_EQ(echo_exchanges("::1", 300), 300);
    const std::string said = output_with(run, "10.9.0.2 met the limit");
    EXPECT_EQ(count_of(said, "10.9.0.2 met the limit of 50 chargen replies a second"), 1) << said;
    EXPECT_EQ(count_of(said, "2001:db8:0:0::/64 met the limit"), 1) << said;
    stop_cleanly();
}

TEST_F(SourceLimits, AChangingReflectorIsBounded)
{
    start_with({"--udp-reply-port=service"});
    // A responder whose every answer differs (a counter), so that no repeat
    // gives it away: it gets the budget, not an endless exchange.
    const int fd = bound_socket("10.9.0.2", SOCK_DGRAM);
    ASSERT_GE(fd, 0);
    socklen_t length = 0;
    const sockaddr_storage to = service_address("10.9.0.2", 7, &length);
    std::uint32_t counter = 0;
    ::sendto(fd, &counter, sizeof counter, 0, reinterpret_cast<const sockaddr*>(&to), length);
    int answers = 0;
    unsigned char buffer[64];
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (std::chrono::steady_clock::now() < end) {
        if (!ready_within(fd, POLLIN, 50)) {
            ++counter;
            ::sendto(fd, &counter, sizeof counter, 0, reinterpret_cast<const sockaddr*>(&to), length);
            continue;
        }
        if (::recv(fd, buffer, sizeof buffer, 0) < 0) continue;
        ++answers;
        ++counter;
        ::sendto(fd, &counter, sizeof counter, 0, reinterpret_cast<const sockaddr*>(&to), length);
    }
    ::close(fd);
    std::printf("answers to a changing reflector in 2 s: %d\n", answers);
    EXPECT_GE(answers, 10);
    EXPECT_LE(answers, 10 + 50 * 2 + 10);
    stop_cleanly();
}

TEST_F(SourceLimits, SessionsAreCappedPerSourceAcrossServices)
{
    start_with({"--per-source-sessions=4"});
    std::vector<int> held;
    for (int i = 0; i < 3; ++i) held.push_back(connect_from("10.9.0.2", 7));
    held.push_back(connect_from("10.9.0.2", 9)); // discard: the fourth, across services
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(echoes(held[static_cast<std::size_t>(i)])) << i;
    const int over = connect_from("10.9.0.2", 7);
    EXPECT_FALSE(echoes(over)) << "the fifth is closed at once";
    EXPECT_TRUE(echoes(connect_from("10.9.0.3", 7))) << "another source";
    std::vector<int> local;
    for (int i = 0; i < 10; ++i) local.push_back(connect_from("127.0.0.1", 7));
    for (int fd : local) EXPECT_TRUE(echoes(fd)) << "loopback has no cap";
    // One ends: there is room for one more.
    ::close(held[0]);
    bool room = false;
    for (int i = 0; i < 50 && !room; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const int fd = connect_from("10.9.0.2", 7);
        room = echoes(fd);
        if (room) held[0] = fd;
        else if (fd >= 0) ::close(fd);
    }
    EXPECT_TRUE(room);
    const std::string said = output_with(run, "met the limit of 4 sessions");
    EXPECT_EQ(count_of(said, "10.9.0.2 met the limit of 4 sessions"), 1) << said;
    for (int fd : held) ::close(fd);
    for (int fd : local) ::close(fd);
    if (over >= 0) ::close(over);
    stop_cleanly();
}

TEST_F(SourceLimits, ALimitOfNoneTurnsItOff)
{
    start_with({"--per-source-replies=0", "--per-source-sessions=0"});
    EXPECT_EQ(echo_exchanges("10.9.0.2", 300), 300);
    std::vector<int> held;
    for (int i = 0; i < 70; ++i) held.push_back(connect_from("10.9.0.2", 7));
    int echoing = 0;
    for (int fd : held) echoing += echoes(fd);
    EXPECT_EQ(echoing, 70);
    for (int fd : held) ::close(fd);
    stop_cleanly();
}

TEST_F(SourceLimits, ClientLogAndCounters)
{
    start_with({"--log-clients", "--quiet"});
    for (int i = 0; i < 3; ++i) {
        const int fd = connect_from("10.9.0.2", 13);
        bool closed = false;
        EXPECT_EQ(tcp_read(fd, 100, 2000, &closed).size(), 25u);
        ::close(fd);
    }
    EXPECT_EQ(echo_exchanges("10.9.0.3", 2), 2);
    const std::string log = output_with(run, "out");
    EXPECT_EQ(count_of(log, "daytime 10.9.0.2:"), 3) << log;
    EXPECT_EQ(count_of(log, ": 0 bytes in, 25 out, "), 3) << log;
    ASSERT_EQ(::kill(run.pid, SIGUSR1), 0);
    const std::string counted = output_with(run, "lines of output dropped");
    EXPECT_NE(counted.find("daytime: 3 sessions, 0 open, 0 datagrams answered, 0 refused by a limit"), std::string::npos)
        << counted;
    EXPECT_NE(counted.find("echo: 0 sessions, 0 open, 2 datagrams answered"), std::string::npos) << counted;
    EXPECT_NE(counted.find("0 lines of output dropped"), std::string::npos) << counted;
    stop_cleanly();
}
