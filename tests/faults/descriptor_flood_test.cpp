// A flood of connections against a Velmora that may hold only 64
// descriptors: accept fails for want of descriptors while the flood lasts,
// and none of that may end the program or a listener, or leave a
// descriptor or a thread behind once the clients are gone.
#include <algorithm>
#include <poll.h>
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
