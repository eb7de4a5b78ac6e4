// Daytime (port 13) and time (port 37) against this machine's clock, with
// the program in a fixed zone five and a half hours east of UTC.
#include <gtest/gtest.h>

#include <ctime>
#include <sys/socket.h>
#include <unistd.h>

#include "harness.h"

using namespace std::chrono_literals;

namespace {

constexpr long zone_offset = 5 * 3600 + 30 * 60;

// The daytime texts that the clock may show between the two moments, worked
// out here from UTC so that the program's zone handling is what is tested.
std::set<std::string> daytimes_between(std::time_t from, std::time_t to)
{
    std::set<std::string> texts;
    for (std::time_t t = from - 1; t <= to + 1; ++t) {
        const std::time_t local = t + zone_offset;
        std::tm tm{};
        ::gmtime_r(&local, &tm);
        char text[64];
        std::strftime(text, sizeof text, "%a %b %e %H:%M:%S %Y\n", &tm);
        texts.insert(text);
    }
    return texts;
}

std::int64_t seconds_of(const std::string& four)
{
    std::uint32_t v = 0;
    for (unsigned char c : four) v = v << 8 | c;
    return static_cast<std::int64_t>(v) - 2208988800LL;
}

void expect_daytime_layout(const std::string& text)
{
    ASSERT_EQ(text.size(), 25u) << hex(text);
    EXPECT_EQ(text[3], ' ');
    EXPECT_EQ(text[7], ' ');
    EXPECT_EQ(text[10], ' ');
    EXPECT_EQ(text[13], ':');
    EXPECT_EQ(text[16], ':');
    EXPECT_EQ(text[19], ' ');
    EXPECT_EQ(text[24], '\n');
    EXPECT_EQ(text.find('\r'), std::string::npos);
}

} // namespace

class Clock : public shared_velmora<flag_daytime, flag_time> {
protected:
    static void SetUpTestSuite() { start_server({"TZ=VLM-5:30"}); }
};

TEST_F(Clock, TcpDaytimeIsTheLocalTimeThenTheEnd)
{
    const std::time_t before = std::time(nullptr);
    const int c = tcp_connect(13);
    ASSERT_GE(c, 0);
    bool closed = false;
    const std::string text = read_until_close(c, 3s, 1000, &closed);
    const std::time_t after = std::time(nullptr);
    ::close(c);
    EXPECT_TRUE(closed);
    expect_daytime_layout(text);
    EXPECT_EQ(daytimes_between(before, after).count(text), 1u) << text;
}

TEST_F(Clock, UdpDaytimeAnswersAnyDatagramFromAnotherPort)
{
    const int u = udp_socket();
    for (const std::string& request : {std::string("x"), std::string(255, 'a'), std::string(700, 'b'), std::string()}) {
        const std::time_t before = std::time(nullptr);
        ASSERT_TRUE(send_datagram(u, 13, request));
        const datagram d = receive_datagram(u, 2s);
        const std::time_t after = std::time(nullptr);
        ASSERT_TRUE(d.arrived) << "request of " << request.size() << " bytes";
        expect_daytime_layout(d.bytes);
        EXPECT_EQ(daytimes_between(before, after).count(d.bytes), 1u) << d.bytes;
        EXPECT_NE(d.source_port, 13);
    }
    EXPECT_FALSE(receive_datagram(u, 300ms).arrived) << "more than one answer";
    ::close(u);
}

TEST_F(Clock, TcpTimeIsSecondsSince1900ThenTheEnd)
{
    const std::time_t before = std::time(nullptr);
    const int c = tcp_connect(37);
    ASSERT_GE(c, 0);
    bool closed = false;
    const std::string value = read_until_close(c, 3s, 1000, &closed);
    const std::time_t after = std::time(nullptr);
    ::close(c);
    EXPECT_TRUE(closed);
    ASSERT_EQ(value.size(), 4u) << hex(value);
    EXPECT_GE(seconds_of(value), before - 1);
    EXPECT_LE(seconds_of(value), after + 1);
}

TEST_F(Clock, UdpTimeAnswersAnyDatagramFromAnotherPort)
{
    const int u = udp_socket();
    for (const std::string& request : {std::string("x"), std::string(256, 'a'), std::string()}) {
        const std::time_t before = std::time(nullptr);
        ASSERT_TRUE(send_datagram(u, 37, request));
        const datagram d = receive_datagram(u, 2s);
        const std::time_t after = std::time(nullptr);
        ASSERT_TRUE(d.arrived) << "request of " << request.size() << " bytes";
        ASSERT_EQ(d.bytes.size(), 4u);
        EXPECT_GE(seconds_of(d.bytes), before - 1);
        EXPECT_LE(seconds_of(d.bytes), after + 1);
        EXPECT_NE(d.source_port, 37);
    }
    ::close(u);
}

TEST_F(Clock, ClientThatClosesAtOnceDoesNotDisturbTheListener)
{
    for (int i = 0; i < 20; ++i) {
        const int c = tcp_connect(i % 2 ? 13 : 37);
        ASSERT_GE(c, 0);
        close_with_reset(c);
    }
    const int c = tcp_connect(13);
    ASSERT_GE(c, 0);
    EXPECT_EQ(read_until_close(c, 3s).size(), 25u);
    ::close(c);
}
