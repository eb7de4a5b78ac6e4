// A thousand chargen clients that connect and never read. Each session
// blocks in its send once the connection is full; memory must stay bounded
// (no growth while they wait, a modest amount per session), the other
// services must keep answering, and every session must end once its client
// goes. And what each stalled session pins in the kernel's send queue,
// memory shared by every TCP program on the machine, stays small.
#include <algorithm>
#include <cerrno>
#include <numeric>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "chargen_lines.h"
#include "fault_fixture.h"

namespace {

constexpr int stalled_readers = 1000;
// What one blocked session may cost in resident memory: its stack pages, its
// thread record and the allocator's share (generous for the sanitizers).
constexpr long kb_per_session = 256;

// The send queue one stalled chargen session may hold: the session asks for
// a 64 KiB send buffer, Linux keeps twice that, and the last send may take
// the queue past it by up to one 64 KiB segment. Unbounded, Linux lets it
// grow to its 4 MB tcp_wmem maximum.
constexpr long send_queue_limit = 2 * 64 * 1024 + 64 * 1024;
// What one stalled echo session may hold received and not read: a new
// session asks for a 32 KiB receive buffer, Linux keeps twice that, and
// one more 64 KiB segment of loopback. Left to grow, Linux took it to
// hundreds of KiB for a client that sends and never reads.
constexpr long echo_receive_queue_limit = 2 * 32 * 1024 + 64 * 1024;

// Sends `client`'s pattern on `fd` until a send has found no room for
// 300 ms (the connection is full both ways), at most `most` bytes.
std::string send_until_blocked(int fd, int client, std::size_t most)
{
    std::string sent;
    char block[16384];
    while (sent.size() < most) {
        // Bytes that never repeat at a power of two: a portion out of place shows.
        for (std::size_t i = 0; i < sizeof block; ++i) {
            const std::size_t at = sent.size() + i;
            block[i] = static_cast<char>(at * 31 + at / 97 + static_cast<std::size_t>(client) * 13);
        }
        pollfd writable{fd, POLLOUT, 0};
        if (::poll(&writable, 1, 300) != 1) break;
        const ssize_t n = ::send(fd, block, sizeof block, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) sent.append(block, static_cast<std::size_t>(n));
        else if (n < 0 && errno != EAGAIN) break;
    }
    return sent;
}

} // namespace

class StalledReaders : public VelmoraFault {};

TEST_F(StalledReaders, ThousandChargenReadersThatStopReading)
{
    rlimit own{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &own), 0);
    if (own.rlim_cur < 2 * stalled_readers) {
        own.rlim_cur = own.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &own);
    }
    ASSERT_GE(own.rlim_cur, static_cast<rlim_t>(stalled_readers + 100)) << "the test needs more descriptors";

    velmora_setup setup;
    setup.descriptor_limit = 4 * stalled_readers;
    ASSERT_NO_FATAL_FAILURE(start(setup));
    const pid_t pid = run.pid;
    const long threads_before = steady_reading(read_threads, pid);
    const long resident_before = resident_kb(pid);

    std::vector<int> readers;
    for (int i = 0; i < stalled_readers; ++i) {
        const int fd = tcp_connect(19, 5000);
        ASSERT_GE(fd, 0) << "connection " << i << " failed";
        readers.push_back(fd);
    }
    ASSERT_EQ(settle_to(threads_before + stalled_readers, 30000, read_threads, pid), threads_before + stalled_readers)
        << "not every reader got its session";

    // Every session has filled its connection and blocks in send.
    const long resident_blocked = steady_reading(resident_kb, pid);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long resident_later = resident_kb(pid);
    std::printf("resident memory: %ld kB before, %ld kB with %d stalled readers, %ld kB two seconds later\n",
                resident_before, resident_blocked, stalled_readers, resident_later);
    EXPECT_LT(resident_later - resident_before, kb_per_session * stalled_readers);
    EXPECT_LT(resident_later - resident_blocked, 4096) << "memory grows while the sessions are blocked";

    // The rest of Velmora is not held up by the blocked sessions.
    for (std::uint16_t port : {7, 13, 17, 23, 37, 53}) EXPECT_EQ(probe_tcp(port), "");
    for (std::uint16_t port : udp_service_ports) EXPECT_EQ(probe_udp(port), "");

    for (int fd : readers) close_with_reset(fd);
    EXPECT_EQ(settle_to(threads_before, 30000, read_threads, pid), threads_before) << "blocked sessions linger";
    stop_cleanly();
}

TEST_F(StalledReaders, StalledChargenSessionsHoldABoundedSendQueue)
{
    constexpr int readers_count = 100;
    ASSERT_NO_FATAL_FAILURE(start(velmora_setup{}));
    std::vector<int> readers;
    for (int i = 0; i < readers_count; ++i) {
        const int fd = tcp_connect(19, 5000);
        ASSERT_GE(fd, 0) << "connection " << i << " failed";
        readers.push_back(fd);
    }
    // Full once every reader has been sent something and the sessions'
    // queues have stopped growing.
    std::vector<long> queues;
    long last_total = -1;
    for (int tries = 0; tries < 100; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const std::vector<long> received = tcp_receive_queues_from(19);
        queues = tcp_send_queues(19);
        const long total = std::accumulate(queues.begin(), queues.end(), 0L);
        const bool all_sent_to = received.size() == readers.size() &&
                                 std::find(received.begin(), received.end(), 0L) == received.end();
        if (all_sent_to && queues.size() == readers.size() && total == last_total) break;
        last_total = total;
    }
    ASSERT_EQ(queues.size(), readers.size()) << "not every reader got its session";
    const long largest = *std::max_element(queues.begin(), queues.end());
    std::printf("send queue of %d stalled chargen sessions: %ld bytes in all, %ld at most\n", readers_count,
                std::accumulate(queues.begin(), queues.end(), 0L), largest);
    EXPECT_LE(largest, send_queue_limit);

    // A client that reads still gets the exact stream, many send buffers' worth.
    const int reading = tcp_connect(19, 5000);
    ASSERT_GE(reading, 0);
    constexpr long lines = 16 * 1024;
    const std::string stream = tcp_read(reading, 74u * lines, 20000);
    ::close(reading);
    ASSERT_EQ(stream.size(), 74u * lines);
    for (long k = 1; k <= lines; ++k)
        ASSERT_EQ(stream.compare(74u * static_cast<std::size_t>(k - 1), 74, chargen_line(k)), 0) << "line " << k;

    for (int fd : readers) close_with_reset(fd);
    stop_cleanly();
}

// Echo clients that send until their sends block and never read: what each
// session lets the kernel hold, received and not read and queued to send,
// stays near a stalled chargen reader's. Once they read, each gets back
// every byte it sent, in order.
TEST_F(StalledReaders, StalledEchoClientsHoldBoundedQueues)
{
    constexpr int clients_count = 20;
    // Far beyond what the connection holds both ways: a session that kept
    // taking bytes in would reach it.
    constexpr std::size_t most = 16u << 20;
    ASSERT_NO_FATAL_FAILURE(start(velmora_setup{}));
    std::vector<int> clients;
    std::vector<std::string> sent;
    for (int i = 0; i < clients_count; ++i) {
        const int fd = tcp_connect(7, 5000);
        ASSERT_GE(fd, 0) << "connection " << i << " failed";
        const int own_buffer = 64 * 1024;
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &own_buffer, sizeof own_buffer);
        clients.push_back(fd);
        sent.push_back(send_until_blocked(fd, i, most));
        ASSERT_LT(sent.back().size(), most) << "client " << i << " never blocked";
    }
    const std::vector<long> received = tcp_receive_queues(7);
    const std::vector<long> queued = tcp_send_queues(7);
    ASSERT_EQ(received.size(), clients.size());
    ASSERT_EQ(queued.size(), clients.size());
    const long largest_received = *std::max_element(received.begin(), received.end());
    const long largest_queued = *std::max_element(queued.begin(), queued.end());
    std::printf("%d stalled echo sessions: at most %ld bytes received and not read, %ld queued to send\n",
                clients_count, largest_received, largest_queued);
    EXPECT_LE(largest_received, echo_receive_queue_limit);
    EXPECT_LE(largest_queued, send_queue_limit);

    for (int i = 0; i < clients_count; ++i) {
        EXPECT_EQ(tcp_read(clients[i], sent[i].size(), 20000), sent[i]) << "client " << i;
        ::close(clients[i]);
    }
    stop_cleanly();
}
