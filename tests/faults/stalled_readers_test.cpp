// A thousand chargen clients that connect and never read. Each session
// blocks in its send once the connection is full; memory must stay bounded
// (no growth while they wait, a modest amount per session), the other
// services must keep answering, and every session must end once its client
// goes.
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "fault_fixture.h"

namespace {

constexpr int stalled_readers = 1000;
// What one blocked session may cost in resident memory: its stack pages, its
// thread record and the allocator's share (generous for the sanitizers).
constexpr long kb_per_session = 256;


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
