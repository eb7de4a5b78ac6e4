// A flood of connections against a Velmora that may hold only 64
// descriptors: accept fails for want of descriptors while the flood lasts,
// and none of that may end the program or a listener, or leave a
// descriptor or a thread behind once the clients are gone.
#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "fault_fixture.h"

namespace {

constexpr long descriptor_limit = 64;
constexpr int flood_connections = 600;

// Connections whose handshake completed (the system may hold some in the
// backlog for a program that cannot accept them).
int established(const std::vector<int>& sockets)
{
    int count = 0;
    for (int fd : sockets) {
        pollfd p{fd, POLLOUT, 0};
        int error = 0;
        socklen_t length = sizeof error;
        if (::poll(&p, 1, 0) == 1 && (p.revents & POLLOUT) != 0 &&
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0)
            ++count;
    }
    return count;
}

// The descriptors Velmora holds: those listed, and one for each listener
// waiting in accept. A listener whose queue the short sessions (daytime,
// time, quote) have emptied waits there while the others are refused.
int descriptors_taken(pid_t pid) { return descriptor_count(pid) + threads_in_accept(pid); }

// A counter of the TcpExt lines of this namespace's /proc/net/netstat.
long tcp_ext_counter(const std::string& wanted)
{
    std::ifstream in("/proc/thread-self/net/netstat");
    std::string heading, values;
    while (std::getline(in, heading) && std::getline(in, values)) {
        if (heading.rfind("TcpExt: ", 0) != 0) continue;
        std::istringstream names(heading.substr(8)), numbers(values.substr(8));
        std::string name;
        long number;
        while (names >> name && numbers >> number)
            if (name == wanted) return number;
    }
    return -1;
}

} // namespace

class DescriptorFlood : public VelmoraFault {};

TEST_F(DescriptorFlood, EveryListenerSurvivesWithSixtyFourDescriptors)
{
    velmora_setup setup;
    setup.descriptor_limit = descriptor_limit;
    ASSERT_NO_FATAL_FAILURE(start(setup));
    const pid_t pid = run.pid;
    const long descriptors_before = steady_reading(read_descriptors, pid);
    const long threads_before = steady_reading(read_threads, pid);
    ASSERT_GT(descriptors_before, 14);
    ASSERT_LT(descriptors_before, descriptor_limit);

    // Long-lived sessions (echo, discard, telnet, chargen, TCP 53) hold their
    // descriptors; the short ones (daytime, quote, time) churn them. UDP
    // replies need a fresh socket each, so they fail too while the flood lasts.
    std::vector<int> flood;
    const int udp = udp_open();
    ASSERT_GE(udp, 0);
    int peak_descriptors = 0;
    for (int i = 0; i < flood_connections; ++i) {
        const std::uint16_t port = tcp_service_ports[static_cast<std::size_t>(i) % tcp_service_ports.size()];
        const int fd = tcp_connect_started(port);
        if (fd >= 0) flood.push_back(fd);
        const std::uint16_t udp_port = udp_service_ports[static_cast<std::size_t>(i) % udp_service_ports.size()];
        const unsigned char datagram[] = {0x12, 0x34, 0x01, 0, 0, 1, 0, 0, 0, 0, 0, 0, 'x'};
        udp_send(udp, udp_port, datagram, sizeof datagram);
        if (i % 50 == 0) {
            ASSERT_TRUE(velmora_alive(&run)) << "ended during the flood";
            peak_descriptors = std::max(peak_descriptors, descriptors_taken(pid));
        }
    }
    // Let the listeners run into the limit for a while.
    for (int i = 0; i < 20; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_TRUE(velmora_alive(&run)) << "ended during the flood";
        peak_descriptors = std::max(peak_descriptors, descriptors_taken(pid));
    }
    const int connected = established(flood);
    std::printf("flood: %d connections started, %d established, Velmora peaked at %d of %ld descriptors\n",
                static_cast<int>(flood.size()), connected, peak_descriptors, descriptor_limit);
    // A reading taken while an accept completes may count its descriptor twice.
    EXPECT_GE(peak_descriptors, descriptor_limit) << "the flood never exhausted the descriptors";
    EXPECT_GT(connected, static_cast<int>(descriptor_limit));

    for (int fd : flood) ::close(fd);
    ::close(udp);

    EXPECT_EQ(settle_to(threads_before, 20000, read_threads, pid), threads_before) << "session threads linger";
    EXPECT_EQ(settle_to(descriptors_before, 20000, read_descriptors, pid), descriptors_before)
        << "descriptors leaked";
    EXPECT_EQ(probe_every_listener(), "");
    std::printf("descriptors: %ld before, %d after; threads: %ld before, %d after\n", descriptors_before,
                descriptor_count(pid), threads_before, thread_count(pid));
    stop_cleanly();
}

// Streaming echo sessions relay their portions through two descriptors of
// their own; with 64 to hold, 24 such sessions must still leave room for
// each other and for the connection that comes after them.
TEST_F(DescriptorFlood, StreamingEchoSessionsLeaveDescriptorsForNewConnections)
{
    constexpr int streams = 24;
    velmora_setup setup;
    setup.settings = settings_image(256, {1}); // echo alone
    setup.descriptor_limit = descriptor_limit;
    start(setup, {7}, {7});
    const std::string block(65536, 's');
    std::vector<int> open;
    for (int i = 0; i < streams; ++i) {
        const int fd = tcp_connect(7, 2000);
        ASSERT_GE(fd, 0) << "stream " << i;
        open.push_back(fd);
        ASSERT_TRUE(tcp_send(fd, block.data(), block.size(), 3000)) << "stream " << i;
        ASSERT_EQ(tcp_read(fd, block.size(), 3000), block) << "stream " << i << " was not echoed whole";
    }
    EXPECT_EQ(probe_tcp(7), "") << "a connection after the streams";
    for (int fd : open) ::close(fd);
    stop_cleanly();
}

// A burst of 3,000 connections at once, half of them sending one byte and
// the other half silent: every byte is echoed. Connections beyond the listen backlog are not refused but held
// back by the system while the client believes it is connected, so a small
// backlog loses them without a trace.
TEST_F(DescriptorFlood, ABurstOfThreeThousandConnectionsIsAllEchoed)
{
    constexpr int burst = 3000;
    rlimit files{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &files), 0);
    if (files.rlim_cur < burst + 200) {
        files.rlim_cur = std::min<rlim_t>(files.rlim_max, burst + 200);
        ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &files), 0);
    }
    ASSERT_GE(files.rlim_cur, static_cast<rlim_t>(burst + 200)) << "the test needs a descriptor per connection";
    velmora_setup setup;
    setup.settings = settings_image(256, {1}); // echo alone
    setup.descriptor_limit = burst + 1000;
    start(setup, {7}, {7});

    enum { connecting, sent, echoed, failed };
    std::vector<pollfd> polled(burst);
    std::vector<int> stage(burst, connecting);
    std::vector<int> silent;
    for (int i = 0; i < burst; ++i) {
        polled[static_cast<std::size_t>(i)] = {tcp_connect_started(7), POLLOUT, 0};
        ASSERT_GE(polled[static_cast<std::size_t>(i)].fd, 0) << "connection " << i;
    }
    int senders_done = 0;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (senders_done < burst / 2 && std::chrono::steady_clock::now() < give_up) {
        if (::poll(polled.data(), polled.size(), 200) <= 0) continue;
        for (int i = 0; i < burst; ++i) {
            pollfd& p = polled[static_cast<std::size_t>(i)];
            if (p.fd < 0 || p.revents == 0) continue;
            int& at = stage[static_cast<std::size_t>(i)];
            char byte = 0;
            if (at == connecting && i % 2 == 1) {
                // Every other connection stays open and silent, out of the poll.
                silent.push_back(p.fd);
                p.fd = -1;
                continue;
            }
            if (at == connecting) {
                at = ::send(p.fd, "b", 1, MSG_NOSIGNAL) == 1 ? sent : failed;
                p.events = POLLIN;
            } else if (at == sent) {
                at = ::recv(p.fd, &byte, 1, MSG_DONTWAIT) == 1 && byte == 'b' ? echoed : failed;
            }
            if (at == echoed || at == failed) {
                ::close(p.fd);
                p.fd = -1;
                ++senders_done;
            }
        }
    }
    // The silent ones too have reached Velmora: a line for each connection.
    auto sessions = [this] {
        const std::string output = program_output(run);
        long lines = 0;
        for (std::size_t at = 0; (at = output.find("Executing server thread", at)) != std::string::npos; ++at) ++lines;
        return lines;
    };
    for (int waited = 0; waited < 5000 && sessions() < burst; waited += 100)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sessions(), burst);
    for (const pollfd& p : polled)
        if (p.fd >= 0) ::close(p.fd);
    for (int fd : silent) ::close(fd);
    const long served = std::count(stage.begin(), stage.end(), echoed);
    const long failures = std::count(stage.begin(), stage.end(), failed);
    std::printf("burst of %d, half of them silent: %ld echoed, %ld failed, %ld unserved\n", burst, served, failures,
                burst / 2 - served - failures);
    EXPECT_EQ(served, burst / 2);
    EXPECT_EQ(failures, 0);
    // Served in the end is not enough: a connection that found the queue
    // full waited for the client's retransmission, seconds, and the silent
    // ones of them may never have reached Velmora at all.
    EXPECT_EQ(tcp_ext_counter("ListenOverflows"), 0);
    EXPECT_EQ(tcp_ext_counter("SyncookiesSent"), 0);
    stop_cleanly();
}
