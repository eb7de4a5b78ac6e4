// Echo and discard over TCP and UDP on ports 7 and 9, and the echo of TCP port 53.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "harness.h"

using namespace std::chrono_literals;

namespace {

// Longer than a streaming session waits for its client before it counts
// the client idle (stream_idle_ms).
constexpr auto past_stream_idle = 1300ms;

std::string pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + 7) & 0xFF);
    return bytes;
}

} // namespace

class EchoDiscard : public shared_velmora<flag_echo, flag_discard, flag_dns> {};

TEST_F(EchoDiscard, TcpEchoReturns1300BytesInOrder)
{
    const int c = tcp_connect(7);
    ASSERT_GE(c, 0);
    const std::string sent = pattern(1300);
    ASSERT_TRUE(send_all(c, sent));
    const std::string got = read_exactly(c, 1300, 3s);
    EXPECT_EQ(got.size(), 1300u);
    EXPECT_TRUE(got == sent) << "the echo differs";
    // Nothing more than was sent.
    ::shutdown(c, SHUT_WR);
    bool closed = false;
    EXPECT_EQ(read_until_close(c, 3s, 1 << 16, &closed), "");
    EXPECT_TRUE(closed) << "the server closes once the client has";
    ::close(c);
}

TEST_F(EchoDiscard, TcpEchoKeepsUpWithManyPortions)
{
    const int c = tcp_connect(7);
    ASSERT_GE(c, 0);
    std::string all;
    for (int round = 0; round < 50; ++round) {
        const std::string part = pattern(37 * round + 1);
        ASSERT_TRUE(send_all(c, part));
        ASSERT_EQ(read_exactly(c, part.size(), 3s), part) << "round " << round;
    }
    ::close(c);
}

// Whole 64 KiB writes: the echo goes back in many portions, the first
// received on the session's stack and the rest in the larger portion it
// grows to; bytes that never repeat at any power of two show a portion out
// of place.
TEST_F(EchoDiscard, TcpEchoReturnsLargeWritesInOrder)
{
    const int c = tcp_connect(7);
    ASSERT_GE(c, 0);
    for (int round = 0; round < 8; ++round) {
        std::string part(65536, '\0');
        for (std::size_t i = 0; i < part.size(); ++i)
            part[i] = static_cast<char>((i * 31 + i / 97 + static_cast<std::size_t>(round)) & 0xFF);
        ASSERT_TRUE(send_all(c, part));
        ASSERT_EQ(read_exactly(c, part.size(), 3s), part) << "round " << round;
    }
    ::close(c);
}

// A client that keeps several sends in flight, and changes their size: the
// session's portions follow it from small to large and back, and every byte
// comes back in order across each change.
TEST_F(EchoDiscard, TcpEchoFollowsAClientThatChangesItsSends)
{
    const int c = tcp_connect(7);
    ASSERT_GE(c, 0);
    const struct {
        std::size_t send;
        int rounds;
    } phases[] = {{512, 80}, {65536, 6}, {4096, 80}, {16384, 20}, {10, 80}, {512, 40}};
    int round = 0;
    for (const auto& phase : phases) {
        for (int i = 0; i < phase.rounds; ++i, ++round) {
            std::string in_flight;
            for (int k = 0; k < 4; ++k) {
                std::string part = pattern(phase.send + static_cast<std::size_t>(k));
                part[0] = static_cast<char>(round);
                ASSERT_TRUE(send_all(c, part));
                in_flight += part;
            }
            ASSERT_EQ(read_exactly(c, in_flight.size(), 3s), in_flight) << "send " << phase.send << ", round " << round;
        }
    }
    ::close(c);
}

// An urgent byte is no part of the stream: echo passes over it alike
// whether the session copies small portions or, after a stream, relays
// large ones, on port 7 and on port 53, which echoes too.
TEST_F(EchoDiscard, TcpEchoPassesOverAnUrgentByteBeforeAndAfterAStream)
{
    const std::string a(1000, 'A'), b(1000, 'B'), c10(10, 'C');
    for (const int port : {7, 53}) {
        for (const bool streamed : {false, true}) {
            const int c = tcp_connect(port);
            ASSERT_GE(c, 0);
            for (int round = 0; streamed && round < 4; ++round) {
                const std::string part = pattern(65536);
                ASSERT_TRUE(send_all(c, part));
                ASSERT_EQ(read_exactly(c, part.size(), 3s), part) << "port " << port;
            }
            ASSERT_TRUE(send_all(c, a));
            ASSERT_EQ(::send(c, "!", 1, MSG_OOB), 1);
            EXPECT_TRUE(send_all(c, b));
            EXPECT_TRUE(send_all(c, c10));
            ::shutdown(c, SHUT_WR);
            bool closed = false;
            EXPECT_EQ(read_until_close(c, 3s, 1 << 16, &closed), a + b + c10)
                << "port " << port << (streamed ? ", after a stream" : "");
            EXPECT_TRUE(closed);
            ::close(c);
        }
    }
}

// A session that streamed gives back its large portion when its client
// goes idle, and serves on when the client streams again.
TEST_F(EchoDiscard, TcpEchoAndDiscardServeOnAfterAStreamWentIdle)
{
    const int e = tcp_connect(7);
    const int d = tcp_connect(9);
    ASSERT_GE(e, 0);
    ASSERT_GE(d, 0);
    const std::string part = pattern(65536);
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(send_all(e, part));
        ASSERT_EQ(read_exactly(e, part.size(), 3s), part) << "round " << round;
        ASSERT_TRUE(send_all(d, part));
        if (round < 2) std::this_thread::sleep_for(past_stream_idle);
        const std::string small = pattern(100 + static_cast<std::size_t>(round));
        ASSERT_TRUE(send_all(e, small));
        EXPECT_EQ(read_exactly(e, small.size(), 3s), small) << "round " << round;
    }
    EXPECT_FALSE(readable_within(d, 100ms)) << "discard sent something or closed early";
    for (const int c : {e, d}) {
        ::shutdown(c, SHUT_WR);
        bool closed = false;
        EXPECT_EQ(read_until_close(c, 3s, 1 << 16, &closed), "");
        EXPECT_TRUE(closed);
        ::close(c);
    }
}

TEST_F(EchoDiscard, TcpEchoClosesAtOnceWhenClientSendsNothing)
{
    const int c = tcp_connect(7);
    ASSERT_GE(c, 0);
    ::shutdown(c, SHUT_WR);
    bool closed = false;
    EXPECT_EQ(read_until_close(c, 3s, 1 << 16, &closed), "");
    EXPECT_TRUE(closed);
    ::close(c);
}

TEST_F(EchoDiscard, UdpEchoReturnsEachDatagramFromAnotherPort)
{
    const int u = udp_socket();
    for (std::size_t size : {1u, 2u, 100u, 254u, 255u}) {
        const std::string sent = pattern(size);
        ASSERT_TRUE(send_datagram(u, 7, sent));
        const datagram d = receive_datagram(u, 2s);
        ASSERT_TRUE(d.arrived) << size;
        EXPECT_EQ(d.bytes, sent) << size;
        EXPECT_NE(d.source_port, 7) << size;
        EXPECT_NE(d.source_port, 0) << size;
    }
    ::close(u);
}

// Oversized and empty datagrams: the first gets nothing, the second an empty
// answer, and the listener goes on. The listener answers one datagram after
// another, so the first reply that comes back shows what was skipped.
TEST_F(EchoDiscard, UdpEchoSkipsOverLongAndAnswersEmpty)
{
    const int u = udp_socket();
    for (std::size_t size : {256u, 300u, 1400u}) {
        ASSERT_TRUE(send_datagram(u, 7, pattern(size)));
        ASSERT_TRUE(send_datagram(u, 7, "after"));
        const datagram d = receive_datagram(u, 2s);
        ASSERT_TRUE(d.arrived) << size;
        EXPECT_EQ(d.bytes, "after") << "a datagram of " << size << " bytes was answered";
    }
    ASSERT_TRUE(send_datagram(u, 7, ""));
    const datagram empty = receive_datagram(u, 2s);
    ASSERT_TRUE(empty.arrived) << "no answer to an empty datagram";
    EXPECT_EQ(empty.bytes, "");
    EXPECT_NE(empty.source_port, 7);
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(send_datagram(u, 7, ""));
        ASSERT_TRUE(send_datagram(u, 7, "next"));
        EXPECT_EQ(receive_datagram(u, 2s).bytes, "");
        EXPECT_EQ(receive_datagram(u, 2s).bytes, "next");
    }
    EXPECT_EQ(well_known_udp_ports(), (std::set<int>{7, 9, 53}));
    ::close(u);
}

TEST_F(EchoDiscard, UdpDiscardAnswersNothingAndGoesOn)
{
    const int u = udp_socket();
    for (std::size_t size : {0u, 1u, 255u, 256u, 1000u, 0u}) ASSERT_TRUE(send_datagram(u, 9, pattern(size)));
    EXPECT_FALSE(receive_datagram(u, 500ms).arrived);
    // Discard's listener is still reading: its receive queue does not fill up.
    for (int i = 0; i < 200; ++i) ASSERT_TRUE(send_datagram(u, 9, pattern(200)));
    EXPECT_FALSE(receive_datagram(u, 300ms).arrived);
    ASSERT_TRUE(send_datagram(u, 7, "echo too"));
    EXPECT_EQ(receive_datagram(u, 2s).bytes, "echo too");
    ::close(u);
}

TEST_F(EchoDiscard, TcpDiscardSendsNothingAndClosesOnlyAfterTheClient)
{
    const int c = tcp_connect(9);
    ASSERT_GE(c, 0);
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(send_all(c, pattern(5000)));
    EXPECT_FALSE(readable_within(c, 500ms)) << "discard sent something or closed early";
    ::shutdown(c, SHUT_WR);
    bool closed = false;
    EXPECT_EQ(read_until_close(c, 3s, 1 << 16, &closed), "");
    EXPECT_TRUE(closed);
    ::close(c);
}
