// Clients that reset their connection in the middle of a stream (echo,
// chargen, telnet, discard, TCP 53) or close it before the answer (daytime,
// time, quote), from several client threads at once. Every session must end:
// the thread count and the descriptors return to where they were, and every
// listener still serves.
#include <atomic>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "fault_fixture.h"

namespace {

constexpr int rounds_per_client = 40;
constexpr int client_threads = 4;

void reset_mid_echo(std::uint16_t port)
{
    const int fd = tcp_connect(port, 2000);
    if (fd < 0) return;
    std::string data(3000, 'e');
    tcp_send(fd, data.data(), data.size(), 1000);
    tcp_read(fd, 700, 500); // some of it comes back; the rest is still in flight
    close_with_reset(fd);
}

void reset_unread_echo(std::uint16_t port)
{
    const int fd = tcp_connect(port, 2000);
    if (fd < 0) return;
    std::string data(20000, 'u');
    tcp_send(fd, data.data(), data.size(), 500);
    close_with_reset(fd);
}

void reset_mid_chargen()
{
    const int fd = tcp_connect(19, 2000);
    if (fd < 0) return;
    tcp_read(fd, 5000, 1000);
    close_with_reset(fd);
}

void reset_mid_telnet()
{
    const int fd = tcp_connect(23, 2000);
    if (fd < 0) return;
    tcp_read(fd, 30, 1000);
    const unsigned char request[] = {255, 253, 1, 'a', 'b', 'c', 255, 253, 3};
    tcp_send(fd, request, sizeof request, 1000);
    tcp_read(fd, 4, 500);
    close_with_reset(fd);
}

void reset_at_once(std::uint16_t port)
{
    const int fd = tcp_connect(port, 2000);
    if (fd >= 0) close_with_reset(fd);
}

void close_at_once(std::uint16_t port)
{
    const int fd = tcp_connect(port, 2000);
    if (fd >= 0) ::close(fd);
}

void one_client(std::atomic<int>* conversations)
{
    for (int round = 0; round < rounds_per_client; ++round) {
        reset_mid_echo(7);
        reset_mid_echo(53);
        reset_unread_echo(7);
        reset_mid_chargen();
        reset_mid_telnet();
        reset_unread_echo(9);
        for (std::uint16_t port : {13, 17, 37}) {
            close_at_once(port);
            reset_at_once(port);
        }
        reset_at_once(19);
        reset_at_once(23);
        *conversations += 14;
    }
}

} // namespace

class AbruptClients : public VelmoraFault {};

TEST_F(AbruptClients, SessionsEndAndNothingLingers)
{
    ASSERT_NO_FATAL_FAILURE(start(velmora_setup{}));
    const pid_t pid = run.pid;
    const long threads_before = steady_reading(read_threads, pid);
    const long descriptors_before = steady_reading(read_descriptors, pid);

    std::atomic<int> conversations{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < client_threads; ++i) clients.emplace_back(one_client, &conversations);
    for (std::thread& t : clients) t.join();
    std::printf("%d abrupt conversations\n", conversations.load());

    ASSERT_TRUE(velmora_alive(&run)) << "ended under abrupt clients, status " << run.exit_status;
    EXPECT_EQ(settle_to(threads_before, 20000, read_threads, pid), threads_before) << "session threads linger";
    EXPECT_EQ(settle_to(descriptors_before, 20000, read_descriptors, pid), descriptors_before)
        << "descriptors leaked";
    EXPECT_EQ(probe_every_listener(), "");
    stop_cleanly();
}
