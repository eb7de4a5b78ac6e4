// The DNS probe on UDP port 53, and the echo on TCP port 53.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "harness.h"

using namespace std::chrono_literals;

namespace {

std::string bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

const std::string query_q = bytes({0x12, 0x34, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                                   0x00, 0x00, 0x01, 0x71, 0x00, 0x00, 0x01, 0x00, 0x01});
const std::string record = bytes({0x01, 0x78, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,
                                  0x00, 0x00, 0x00, 0x04, 0x5A, 0x00, 0x00, 0x66});

} // namespace

class Dns : public shared_velmora<flag_dns> {};

TEST_F(Dns, StandardQueryGetsTheExactAnswerFromPort53)
{
    const int u = udp_socket();
    ASSERT_TRUE(send_datagram(u, 53, query_q));
    const datagram d = receive_datagram(u, 2s);
    ASSERT_TRUE(d.arrived);
    EXPECT_EQ(hex(d.bytes), "12 34 85 00 00 01 00 01 00 00 00 00 01 71 00 00 01 00 01 01 78 00 00 01 "
                            "00 01 00 00 00 00 00 04 5A 00 00 66");
    EXPECT_EQ(d.source_port, 53);
    ::close(u);
}

TEST_F(Dns, ShortAndOverLongDatagramsGetNothingAndTheNextIsAnswered)
{
    const int u = udp_socket();
    std::string header_only(12, '\0');
    for (const std::string& skipped : {std::string(11, '\x42'), std::string(), std::string(256, '\x01'),
                                       std::string(600, '\x02')}) {
        // A new ID for each query, as a client gives it: the same bytes again
        // within a second are not answered.
        ++header_only[1];
        ASSERT_TRUE(send_datagram(u, 53, skipped));
        ASSERT_TRUE(send_datagram(u, 53, header_only));
        const datagram d = receive_datagram(u, 2s);
        ASSERT_TRUE(d.arrived) << "nothing after a datagram of " << skipped.size();
        EXPECT_EQ(d.bytes.size(), 29u) << "a datagram of " << skipped.size() << " bytes was answered";
    }
    EXPECT_FALSE(receive_datagram(u, 300ms).arrived);
    ::close(u);
}

TEST_F(Dns, HeaderOnlyAndLongestQueries)
{
    const int u = udp_socket();
    ASSERT_TRUE(send_datagram(u, 53, std::string(12, '\0')));
    const datagram header = receive_datagram(u, 2s);
    EXPECT_EQ(hex(header.bytes), "00 00 84 00 00 00 00 01 00 00 00 00 " + hex(record));

    std::string longest(255, '\0');
    for (std::size_t i = 0; i < longest.size(); ++i) longest[i] = static_cast<char>(i * 3 + 1);
    ASSERT_TRUE(send_datagram(u, 53, longest));
    const datagram d = receive_datagram(u, 2s);
    ASSERT_EQ(d.bytes.size(), 272u);
    EXPECT_EQ(d.bytes.substr(12, 243), longest.substr(12));
    EXPECT_EQ(d.bytes.substr(255), record);
    ::close(u);
}

TEST_F(Dns, FlagsAndCountsStayAsAsked)
{
    const int u = udp_socket();
    // RA and RCODE set, ANCOUNT high byte 2, opcode 2 and TC.
    const std::string query = bytes({0xBE, 0xEF, 0x12, 0x83, 0x00, 0x01, 0x02, 0x00, 0x00, 0x03, 0x00, 0x04,
                                     0x03, 'c', 'o', 'm', 0x00, 0x00, 0x0F, 0x00, 0x01});
    ASSERT_TRUE(send_datagram(u, 53, query));
    const datagram d = receive_datagram(u, 2s);
    EXPECT_EQ(hex(d.bytes), "BE EF 96 83 00 01 02 01 00 03 00 04 " + hex(query.substr(12)) + " " + hex(record));
    ::close(u);
}

// A datagram from a service's port, or any other port below 1024 but 53,
// cannot be a resolver's query: answering a responder that answers from its
// own port (daytime on 13, say) would never end.
TEST_F(Dns, QueriesFromPortsOfServicesAreNotAnswered)
{
    for (int port : {7, 9, 13, 17, 19, 37, 1023, 1024}) {
        const int u = ::socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_GE(u, 0);
        sockaddr_in own{};
        own.sin_family = AF_INET;
        own.sin_port = htons(static_cast<std::uint16_t>(port));
        own.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ASSERT_EQ(::bind(u, reinterpret_cast<sockaddr*>(&own), sizeof own), 0) << "port " << port;
        ASSERT_TRUE(send_datagram(u, 53, query_q));
        const bool answered = receive_datagram(u, port < 1024 ? 300ms : 2s).arrived;
        EXPECT_EQ(answered, port >= 1024) << "a query from port " << port;
        ::close(u);
    }
}

// TCP port 53 echoes, after its listener has written the "TCP" box.
TEST_F(Dns, TcpPort53Echoes)
{
    const int c = tcp_connect(53);
    ASSERT_GE(c, 0);
    std::string sent(1300, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i);
    ASSERT_TRUE(send_all(c, sent));
    EXPECT_EQ(read_exactly(c, sent.size(), 3s), sent);
    ::shutdown(c, SHUT_WR);
    bool closed = false;
    EXPECT_EQ(read_until_close(c, 2s, 100, &closed), "");
    EXPECT_TRUE(closed);
    ::close(c);
    // The box goes to standard error through the output queue, a moment later.
    for (int waited = 0; waited < 2000 && program_errors(server).find("\nTCP: ") == std::string::npos; waited += 20)
        std::this_thread::sleep_for(20ms);
    EXPECT_NE(program_errors(server).find("\nTCP: "), std::string::npos) << program_errors(server);
}
