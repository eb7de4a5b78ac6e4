// The listener pattern under stress from the client side: one line per
// accepted connection, resets, and a process that runs out of descriptors.
#include <gtest/gtest.h>

#include <dirent.h>
#include <regex>
#include <sstream>
#include <thread>
#include <sys/socket.h>
#include <unistd.h>

#include "harness.h"

using namespace std::chrono_literals;

namespace {

int executing_lines(const velmora_process& run)
{
    std::istringstream lines(program_output(run));
    std::string line;
    int n = 0;
    while (std::getline(lines, line))
        if (line.rfind("Executing server thread for ", 0) == 0) ++n;
    return n;
}

int thread_count(const velmora_process& run)
{
    DIR* tasks = ::opendir(("/proc/" + std::to_string(run.pid) + "/task").c_str());
    if (tasks == nullptr) return -1;
    int n = 0;
    while (dirent* entry = ::readdir(tasks))
        if (entry->d_name[0] != '.') ++n;
    ::closedir(tasks);
    return n;
}

} // namespace

TEST(Listener, OneExecutingLinePerAcceptedConnection)
{
    velmora_process run = launch({flag_echo, flag_discard, flag_time});
    ASSERT_TRUE(wait_for_ports({flag_echo, flag_discard, flag_time})) << program_errors(run);
    EXPECT_EQ(program_output(run), "");
    const int ports[] = {7, 7, 9, 37, 7, 9, 37, 7};
    for (int port : ports) {
        const int c = tcp_connect(port);
        ASSERT_GE(c, 0) << port;
        if (port == 37) read_exactly(c, 4, 2s);
        ::close(c);
    }
    // Datagrams are no connections.
    const int u = udp_socket();
    send_datagram(u, 7, "x");
    send_datagram(u, 37, "x");
    EXPECT_TRUE(receive_datagram(u, 2s).arrived);
    EXPECT_TRUE(receive_datagram(u, 2s).arrived);
    ::close(u);
    EXPECT_TRUE(wait_until([&] { return executing_lines(run) >= 8; }, 3s));
    std::this_thread::sleep_for(200ms);
    const std::string out = program_output(run);
    const std::regex line("Executing server thread for [0-9]+\n");
    std::string rest = out;
    int matched = 0;
    for (std::smatch m; std::regex_search(rest, m, line) && m.position(0) == 0; rest = m.suffix()) ++matched;
    EXPECT_EQ(matched, 8) << out;
    EXPECT_EQ(rest, "") << "stdout holds more than the lines: " << out;
    EXPECT_EQ(program_stop(&run), 0);
    program_discard(&run);
}

TEST(Listener, ClientResetsEndTheirSessionsButNeverTheProcess)
{
    const std::set<service_flag> on = {flag_echo, flag_discard, flag_chargen, flag_telnet};
    velmora_process run = launch(on);
    ASSERT_TRUE(wait_for_ports(on)) << program_errors(run);
    const int baseline = thread_count(run);
    ASSERT_GT(baseline, 7);
    for (int round = 0; round < 5; ++round) {
        for (int port : {7, 9, 19, 23}) {
            const int c = tcp_connect(port);
            ASSERT_GE(c, 0) << port;
            if (port == 7) {
                send_all(c, "abc");
                read_exactly(c, 3, 2s);
            }
            if (port == 9) send_all(c, "abc");
            // Chargen is in the middle of sending when the reset comes.
            if (port == 19) read_exactly(c, 5000, 2s);
            if (port == 23) read_exactly(c, 20, 2s);
            close_with_reset(c);
        }
    }
    EXPECT_TRUE(wait_until([&] { return thread_count(run) == baseline; }, 5s))
        << "session threads left: " << thread_count(run) - baseline;
    ASSERT_TRUE(program_alive(&run));
    EXPECT_TRUE(echo_answers("alive"));
    EXPECT_EQ(program_stop(&run), 0) << program_errors(run);
    program_discard(&run);
}

// Sessions start on parked threads where some wait, on new ones beyond them.
// After a first crowd has ended, leaving threads parked, a larger crowd of
// blocking sessions is served all at once: none waits for another's thread.
TEST(Listener, ACrowdLargerThanTheParkedThreadsIsServedAtOnce)
{
    velmora_process run = launch({flag_echo});
    ASSERT_TRUE(wait_for_ports({flag_echo})) << program_errors(run);
    const int baseline = thread_count(run);
    const auto crowd = [](int size, const std::string& tag) {
        std::vector<int> clients;
        for (int i = 0; i < size; ++i) {
            const int c = tcp_connect(7);
            if (c < 0) break;
            send_all(c, tag + std::to_string(i) + ";");
            clients.push_back(c);
        }
        // Every session answers while all the others stay open and blocked.
        int answered = 0;
        for (std::size_t i = 0; i < clients.size(); ++i) {
            const std::string expected = tag + std::to_string(i) + ";";
            answered += read_exactly(clients[i], expected.size(), 3s) == expected;
        }
        return std::make_pair(clients, answered);
    };
    auto [first, first_answered] = crowd(80, "a");
    EXPECT_EQ(first_answered, 80);
    for (int c : first) ::close(c);
    // The first crowd's threads have ended their sessions and park or end.
    EXPECT_TRUE(wait_until([&] { return thread_count(run) < baseline + 80; }, 3s));
    auto [second, second_answered] = crowd(200, "b");
    EXPECT_EQ(second_answered, 200) << "a session waited for another's thread";
    EXPECT_EQ(thread_count(run), baseline + 200);
    for (int c : second) ::close(c);
    // Parked threads wait only a while.
    EXPECT_TRUE(wait_until([&] { return thread_count(run) == baseline; }, 10s))
        << "threads left: " << thread_count(run) - baseline;
    EXPECT_EQ(program_stop(&run), 0) << program_errors(run);
    program_discard(&run);
}

// With its descriptors used up the program cannot accept; the listener waits
// for room instead of ending, and the waiting connections are served once
// earlier ones close.
TEST(Listener, FailedAcceptNeverEndsTheListener)
{
    velmora_process run = prepared({flag_echo});
    program_start(&run, {.descriptor_limit = 12});
    ASSERT_TRUE(wait_for_ports({flag_echo})) << program_errors(run);

    std::vector<int> clients;
    for (int i = 0; i < 14; ++i) {
        const int c = tcp_connect(7);
        ASSERT_GE(c, 0);
        ASSERT_TRUE(send_all(c, "n" + std::to_string(i)));
        clients.push_back(c);
    }
    std::vector<int> served;
    std::vector<std::size_t> waiting;
    for (std::size_t i = 0; i < clients.size(); ++i) {
        if (readable_within(clients[i], 300ms)) served.push_back(clients[i]);
        else waiting.push_back(i);
    }
    ASSERT_FALSE(waiting.empty()) << "the descriptor limit did not bite; the test proves nothing";
    ASSERT_FALSE(served.empty()) << program_errors(run);
    for (int c : served) ::close(c);
    for (std::size_t i : waiting) {
        const std::string expected = "n" + std::to_string(i);
        EXPECT_EQ(read_exactly(clients[i], expected.size(), 3s), expected) << "a waiting client was never served";
        ::close(clients[i]);
    }
    EXPECT_TRUE(echo_answers("late"));
    EXPECT_EQ(program_stop(&run), 0) << program_errors(run);
    program_discard(&run);
}
