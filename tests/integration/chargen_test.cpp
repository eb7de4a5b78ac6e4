// The character generator on port 19: the TCP stream and the UDP replies.
#include <gtest/gtest.h>

#include <ctime>
#include <thread>
#include <sys/socket.h>
#include <unistd.h>

#include "chargen_lines.h"
#include "harness.h"

using namespace std::chrono_literals;

namespace {

std::string ring()
{
    std::string r;
    for (int c = 0x21; c <= 0x7E; ++c)
        if (c != 0x5C) r += static_cast<char>(c);
    return r + ' ';
}

// The reply length for a clock second: the first draw of the ISO C
// generator seeded with it, over 64.
std::size_t udp_length_for(std::time_t second)
{
    const std::uint32_t seed = static_cast<std::uint32_t>(second) * 1103515245u + 12345u;
    return ((seed >> 16) & 32767u) / 64;
}

void expect_udp_reply(const datagram& d, std::time_t before, std::time_t after, const std::string& what)
{
    ASSERT_TRUE(d.arrived) << what;
    EXPECT_NE(d.source_port, 19) << what;
    EXPECT_LE(d.bytes.size(), 511u) << what;
    const std::string r = ring();
    for (std::size_t i = 0; i < d.bytes.size(); ++i) ASSERT_EQ(d.bytes[i], r[i % 94]) << what << " byte " << i;
    bool length_fits = false;
    for (std::time_t t = before - 1; t <= after + 1; ++t) length_fits |= udp_length_for(t) == d.bytes.size();
    EXPECT_TRUE(length_fits) << what << ": length " << d.bytes.size() << " is no draw of the clock's seconds";
}

} // namespace

class Chargen : public shared_velmora<flag_chargen> {};

TEST_F(Chargen, TcpStreamOfRingLines)
{
    const int c = tcp_connect(19);
    ASSERT_GE(c, 0);
    const int lines = 3 * 95 + 2;
    const std::string stream = read_exactly(c, 74u * lines, 5s);
    ::close(c);
    ASSERT_EQ(stream.size(), 74u * lines);
    for (int k = 1; k <= lines; ++k)
        ASSERT_EQ(stream.substr(74u * (k - 1), 74), chargen_line(k)) << "line " << k;
    EXPECT_EQ(stream.substr(0, 1), "\"");
    EXPECT_EQ(stream.substr(71, 3), "j\r\n");
    EXPECT_EQ(stream.substr(74, 1), "#");
    EXPECT_EQ(stream.substr(74 * 93, 74), stream.substr(74 * 94, 74)) << "lines 94 and 95";
    EXPECT_EQ(stream.substr(74 * 93, 1), "!");
    EXPECT_EQ(stream.substr(74 * 95, 74), stream.substr(0, 74)) << "line 96 repeats line 1";
    EXPECT_EQ(stream.find('\\'), std::string::npos);
    EXPECT_NE(stream.find(" !"), std::string::npos) << "the space follows the tilde";
}

TEST_F(Chargen, TcpClientDataChangesNothing)
{
    const int c = tcp_connect(19);
    ASSERT_GE(c, 0);
    ASSERT_TRUE(send_all(c, std::string(3000, 'z') + "\r\n\xff\xfd\x01"));
    const std::string stream = read_exactly(c, 74u * 10, 3s);
    ::close(c);
    ASSERT_EQ(stream.size(), 740u);
    for (int k = 1; k <= 10; ++k) EXPECT_EQ(stream.substr(74u * (k - 1), 74), chargen_line(k)) << k;
}

TEST_F(Chargen, UdpRepliesFromTheRingWithTheClockDrawnLength)
{
    const int u = udp_socket();
    for (const std::string& request : {std::string("x"), std::string(255, 'q'), std::string(256, 'q'),
                                       std::string(1200, 'q'), std::string()}) {
        const std::time_t before = std::time(nullptr);
        ASSERT_TRUE(send_datagram(u, 19, request));
        const datagram d = receive_datagram(u, 2s);
        const std::time_t after = std::time(nullptr);
        expect_udp_reply(d, before, after, "request of " + std::to_string(request.size()) + " bytes");
    }
    EXPECT_FALSE(receive_datagram(u, 300ms).arrived) << "more than one reply";
    ::close(u);
}

// Across a few seconds the replies take several lengths; each must start
// with '!' when not empty and run round the ring past byte 94.
TEST_F(Chargen, UdpRepliesOverSeveralSeconds)
{
    const int u = udp_socket();
    std::set<std::size_t> lengths;
    const auto until = std::chrono::steady_clock::now() + 2500ms;
    while (std::chrono::steady_clock::now() < until) {
        const std::time_t before = std::time(nullptr);
        ASSERT_TRUE(send_datagram(u, 19, "?"));
        const datagram d = receive_datagram(u, 2s);
        expect_udp_reply(d, before, std::time(nullptr), "repeated request");
        if (!d.bytes.empty()) {
            EXPECT_EQ(d.bytes[0], '!');
        }
        lengths.insert(d.bytes.size());
        std::this_thread::sleep_for(250ms);
    }
    EXPECT_GE(lengths.size(), 2u) << "the length does not follow the clock";
    ::close(u);
}
