// The telnet refusal service on port 23: the banner, the passive option
// answers and the echo that DO ECHO switches on.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include "harness.h"

using namespace std::chrono_literals;

namespace {

// The banner as the service defines it.
const std::string banner =
    "\r\n  Welcome to Velmora - Copyright (C) Velmora developers. All rights reserved."
    "\r\n\r\n*** TelnetD Error ***\r\nSorry, but this system does NOT support remote logins.";

std::string bytes(std::initializer_list<int> values)
{
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

constexpr int IAC = 255, WILL = 251, WONT = 252, DO = 253, DONT = 254, ECHO = 1;

// Connects and reads the banner.
int connect_past_banner()
{
    const int c = tcp_connect(23);
    if (c < 0) return -1;
    const std::string got = read_exactly(c, banner.size(), 3s);
    EXPECT_EQ(got, banner);
    return c;
}

// Sends and returns what comes back within a short while.
std::string exchange(int c, const std::string& out, std::size_t expected)
{
    EXPECT_TRUE(send_all(c, out));
    const std::string got = read_exactly(c, expected, 2s);
    if (got.size() == expected) {
        EXPECT_FALSE(readable_within(c, 150ms)) << "more than expected came back";
    }
    return got;
}

} // namespace

class Telnet : public shared_velmora<flag_telnet> {};

TEST_F(Telnet, BannerFirstAndNothingElse)
{
    ASSERT_EQ(banner.substr(0, 25), "\r\n  Welcome to Velmora - ");
    ASSERT_EQ(banner.find('%'), std::string::npos);
    const int c = tcp_connect(23);
    ASSERT_GE(c, 0);
    EXPECT_EQ(read_exactly(c, banner.size(), 3s), banner);
    EXPECT_FALSE(readable_within(c, 500ms)) << "something after the banner";
    ::close(c);
}

TEST_F(Telnet, NoEchoBeforeDoEcho)
{
    const int c = connect_past_banner();
    ASSERT_GE(c, 0);
    EXPECT_EQ(exchange(c, "abc\r\n", 0), "");
    ::close(c);
}

TEST_F(Telnet, DoEchoIsAcceptedAndTypedCharactersComeBack)
{
    const int c = connect_past_banner();
    ASSERT_GE(c, 0);
    EXPECT_EQ(hex(exchange(c, bytes({IAC, DO, ECHO}), 3)), "FF FB 01");
    EXPECT_EQ(exchange(c, "abc", 3), "abc");
    EXPECT_EQ(exchange(c, "\r\n", 2), "\r\n");
    // A NUL and an escaped 255 send nothing back.
    EXPECT_EQ(exchange(c, bytes({0, IAC, IAC, 'z'}), 1), "z");
    // DONT ECHO switches it off again.
    EXPECT_EQ(hex(exchange(c, bytes({IAC, DONT, ECHO}), 3)), "FF FC 01");
    EXPECT_EQ(exchange(c, "quiet", 0), "");
    ::close(c);
}

TEST_F(Telnet, EveryOtherOptionIsRefused)
{
    const int c = connect_past_banner();
    ASSERT_GE(c, 0);
    EXPECT_EQ(hex(exchange(c, bytes({IAC, DO, 3}), 3)), "FF FC 03");
    EXPECT_EQ(hex(exchange(c, bytes({IAC, WILL, 24}), 3)), "FF FE 18");
    EXPECT_EQ(hex(exchange(c, bytes({IAC, WONT, 24}), 3)), "FF FC 18");
    EXPECT_EQ(hex(exchange(c, bytes({IAC, DONT, 31}), 3)), "FF FC 1F");
    EXPECT_EQ(hex(exchange(c, bytes({IAC, WILL, ECHO}), 3)), "FF FE 01");
    // Several requests in one write are answered in order.
    EXPECT_EQ(hex(exchange(c, bytes({IAC, DO, 3, IAC, DO, ECHO, IAC, WILL, 31}), 9)),
              "FF FC 03 FF FB 01 FF FE 1F");
    ::close(c);
}

TEST_F(Telnet, NoOperationCommandSwallowsBytesUntilAVerb)
{
    const int c = connect_past_banner();
    ASSERT_GE(c, 0);
    EXPECT_EQ(hex(exchange(c, bytes({IAC, DO, ECHO}), 3)), "FF FB 01");
    EXPECT_EQ(exchange(c, bytes({IAC, 241, 'x'}), 0), "");
    EXPECT_EQ(hex(exchange(c, bytes({253, 1}), 3)), "FF FB 01");
    EXPECT_EQ(exchange(c, "y", 1), "y");
    ::close(c);
}

TEST_F(Telnet, IdleClientStaysConnectedAndClosesCleanly)
{
    const int c = connect_past_banner();
    ASSERT_GE(c, 0);
    EXPECT_FALSE(readable_within(c, 2s)) << "the server closed an idle client";
    EXPECT_EQ(hex(exchange(c, bytes({IAC, DO, ECHO}), 3)), "FF FB 01");
    ::shutdown(c, SHUT_WR);
    bool closed = false;
    EXPECT_EQ(read_until_close(c, 2s, 100, &closed), "");
    EXPECT_TRUE(closed) << "the server keeps a connection that the client closed";
    ::close(c);
}

TEST_F(Telnet, ConnectionsDoNotShareEchoState)
{
    const int a = connect_past_banner();
    const int b = connect_past_banner();
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    EXPECT_EQ(hex(exchange(a, bytes({IAC, DO, ECHO}), 3)), "FF FB 01");
    EXPECT_EQ(exchange(b, "b", 0), "");
    EXPECT_EQ(exchange(a, "a", 1), "a");
    ::close(a);
    ::close(b);
}
