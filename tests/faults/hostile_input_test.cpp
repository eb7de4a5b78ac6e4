// Datagrams of the awkward sizes to every UDP service (empty, one byte, the
// 255 the listener offers, one more, and the largest UDP datagram), and
// random bytes to every TCP service. What each service may send back is
// checked; above all, every listener still serves afterwards.
#include <random>
#include <unistd.h>

#include "fault_fixture.h"

namespace {

constexpr std::size_t sizes[] = {0, 1, 255, 256, 65507};

std::vector<std::vector<unsigned char>> replies_to(std::uint16_t port, const std::vector<unsigned char>& datagram)
{
    const int fd = udp_open();
    std::vector<std::vector<unsigned char>> replies;
    if (fd < 0) return replies;
    udp_send(fd, port, datagram.data(), datagram.size());
    std::vector<unsigned char> reply;
    // A reply comes at once; a second one would come right behind it.
    for (int wait_ms = 400; udp_receive(fd, &reply, wait_ms); wait_ms = 150) replies.push_back(reply);
    ::close(fd);
    return replies;
}

// A datagram of `size` bytes that starts as a DNS query header.
std::vector<unsigned char> datagram_of(std::size_t size, std::mt19937* random)
{
    std::vector<unsigned char> bytes(size);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>((*random)());
    const unsigned char header[] = {0xAB, 0xCD, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    for (std::size_t i = 0; i < size && i < sizeof header; ++i) bytes[i] = header[i];
    return bytes;
}

} // namespace

class HostileInput : public VelmoraFault {};

TEST_F(HostileInput, DatagramsOfEveryAwkwardSize)
{
    ASSERT_NO_FATAL_FAILURE(start(velmora_setup{}));
    std::mt19937 random(7);
    for (std::uint16_t port : udp_service_ports) {
        for (std::size_t size : sizes) {
            SCOPED_TRACE("UDP port " + std::to_string(port) + ", datagram of " + std::to_string(size) + " bytes");
            const std::vector<unsigned char> datagram = datagram_of(size, &random);
            const auto replies = replies_to(port, datagram);
            const bool whole = size >= 1 && size <= 255;
            ASSERT_LE(replies.size(), 1u) << "one datagram, more than one reply";
            switch (port) {
            case 7: // echo: the datagram itself, only when it was received whole
                if (whole) {
                    ASSERT_EQ(replies.size(), 1u);
                    EXPECT_EQ(replies[0], datagram);
                } else {
                    for (const auto& r : replies) EXPECT_TRUE(r.empty()) << "echoed part of an over-long datagram";
                }
                break;
            case 9: EXPECT_TRUE(replies.empty()); break;
            case 13:
            case 37: // answer whatever arrives, even over-long
                if (size > 0) {
                    ASSERT_EQ(replies.size(), 1u);
                }
                for (const auto& r : replies) EXPECT_EQ(r.size(), port == 13 ? 25u : 4u);
                break;
            case 19:
                if (size > 0) {
                    ASSERT_EQ(replies.size(), 1u);
                }
                for (const auto& r : replies) EXPECT_LE(r.size(), 511u);
                break;
            case 53: // an answer only for a whole datagram with a full header
                if (size >= 12 && size <= 255) {
                    ASSERT_EQ(replies.size(), 1u);
                    EXPECT_EQ(replies[0].size(), size + 17);
                } else {
                    EXPECT_TRUE(replies.empty());
                }
                break;
            }
            EXPECT_EQ(probe_udp(port), "") << "the listener stopped serving";
        }
    }
    EXPECT_EQ(probe_every_listener(), "");
    stop_cleanly();
}

TEST_F(HostileInput, RandomBytesToEveryTcpPort)
{
    ASSERT_NO_FATAL_FAILURE(start(velmora_setup{}));
    std::mt19937 random(23);
    for (int round = 0; round < 3; ++round) {
        for (std::uint16_t port : tcp_service_ports) {
            const int fd = tcp_connect(port, 2000);
            ASSERT_GE(fd, 0) << "TCP port " << port;
            std::vector<unsigned char> bytes(16384);
            for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
            // Services that never read let the send stall; that is their right.
            tcp_send(fd, bytes.data(), bytes.size(), 500);
            tcp_read(fd, 1 << 20, 200);
            if (round == 1) close_with_reset(fd);
            else ::close(fd);
        }
    }
    ASSERT_TRUE(velmora_alive(&run));
    EXPECT_EQ(probe_every_listener(), "");
    stop_cleanly();
}
