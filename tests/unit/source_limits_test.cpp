#include <gtest/gtest.h>

#include <string>

#include "client_log.h"
#include "source_limits.h"

namespace {

net_address address(const char* text, std::uint16_t port = 40000)
{
    net_address a{};
    EXPECT_TRUE(net_parse_address(text, &a)) << text;
    a.bytes[2] = static_cast<unsigned char>(port >> 8);
    a.bytes[3] = static_cast<unsigned char>(port);
    return a;
}

// A table as a run holds it: made once and kept for good (its lock is never
// destroyed), so each test keeps its own in a static.
source_limits* make(int replies, int sessions)
{
    bool failed = false;
    source_limits* made = source_limits_make(replies, sessions, &failed);
    EXPECT_FALSE(failed);
    return made;
}

std::string key_of(const char* text)
{
    const net_address a = address(text);
    source_key key{};
    if (!source_of(&a, &key)) return "loopback";
    return std::string(reinterpret_cast<const char*>(key.bytes), sizeof key.bytes);
}

std::string peer_text(const char* text, bool with_port)
{
    const net_address a = address(text, 7);
    char out[64];
    format_peer(out, sizeof out, &a, with_port);
    return out;
}

} // namespace

TEST(SourceLimits, ASourceIsAnIpv4AddressOrAnIpv6SlashSixtyFourAndLoopbackIsNone)
{
    for (const char* local : {"127.0.0.1", "127.200.0.9", "::1", "::ffff:127.0.0.1"}) EXPECT_EQ(key_of(local), "loopback") << local;
    EXPECT_EQ(key_of("::ffff:10.9.0.2"), key_of("10.9.0.2"));
    EXPECT_NE(key_of("10.9.0.2"), key_of("10.9.0.3"));
    EXPECT_EQ(key_of("2001:db8::2"), key_of("2001:db8::ffff:3"));
    EXPECT_NE(key_of("2001:db8::2"), key_of("2001:db8:0:1::2"));
    EXPECT_EQ(make(0, 0), nullptr) << "both off: no table at all";
}

TEST(SourceLimits, RepliesHaveABurstThenTheRatePerService)
{
    static source_limits* const limits = make(50, 0);
    ASSERT_NE(limits, nullptr);
    const net_address peer = address("10.9.0.2");
    const std::uint32_t t = 0xFFFFFFF0u; // the tick count wraps meanwhile
    for (int i = 0; i < reply_burst(50); ++i) EXPECT_EQ(source_reply_allowed(limits, &peer, 4, t), source_verdict::allowed);
    EXPECT_EQ(source_reply_allowed(limits, &peer, 4, t), source_verdict::refused_first);
    EXPECT_EQ(source_reply_allowed(limits, &peer, 4, t + 10), source_verdict::refused);
    EXPECT_EQ(source_reply_allowed(limits, &peer, 4, t + 20), source_verdict::allowed) << "one per 20 ms";
    EXPECT_EQ(source_reply_allowed(limits, &peer, 0, t + 20), source_verdict::allowed) << "another service";
    int in_a_second = 0;
    for (std::uint32_t ms = 21; ms <= 1020; ++ms)
        in_a_second += source_reply_allowed(limits, &peer, 4, t + ms) == source_verdict::allowed;
    EXPECT_EQ(in_a_second, 50);
    const net_address local = address("127.0.0.1");
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(source_reply_allowed(limits, &local, 4, t), source_verdict::allowed);
    EXPECT_EQ(source_session_begin(limits, &peer, t), source_verdict::allowed) << "sessions not limited";
}

TEST(SourceLimits, SessionsAreCappedAndASourceWithSessionsKeepsItsPlace)
{
    static source_limits* const limits = make(0, 2);
    ASSERT_NE(limits, nullptr);
    const net_address peer = address("10.9.0.2");
    EXPECT_EQ(source_session_begin(limits, &peer, 1), source_verdict::allowed);
    EXPECT_EQ(source_session_begin(limits, &peer, 2), source_verdict::allowed);
    EXPECT_EQ(source_session_begin(limits, &peer, 3), source_verdict::refused_first);
    EXPECT_EQ(source_session_begin(limits, &peer, 4), source_verdict::refused);
    source_session_end(limits, &peer);
    EXPECT_EQ(source_session_begin(limits, &peer, 5), source_verdict::allowed);
    // Every other place taken by a source with a session open: one more
    // source finds none, until a session ends.
    for (int i = 1; i < source_table_size; ++i) {
        net_address other = net_ipv4_address(0x0B000000u + static_cast<std::uint32_t>(i), 1);
        ASSERT_EQ(source_session_begin(limits, &other, 10), source_verdict::allowed) << i;
    }
    const net_address late = address("10.9.0.9");
    EXPECT_EQ(source_session_begin(limits, &late, 11), source_verdict::full_first);
    EXPECT_EQ(source_session_begin(limits, &late, 12), source_verdict::refused);
    const net_address first_other = net_ipv4_address(0x0B000001u, 1);
    source_session_end(limits, &first_other);
    EXPECT_EQ(source_session_begin(limits, &late, 13), source_verdict::allowed);
    EXPECT_EQ(source_session_begin(limits, &peer, 14), source_verdict::refused) << "kept its count";
}

TEST(ClientLog, PeersAndSourcesAreNamedAsOperatorsWriteThem)
{
    EXPECT_EQ(peer_text("10.9.0.2", true), "10.9.0.2:7");
    EXPECT_EQ(peer_text("::ffff:10.9.0.2", true), "10.9.0.2:7");
    EXPECT_EQ(peer_text("2001:db8::2", true), "[2001:db8::2]:7");
    EXPECT_EQ(peer_text("2001:db8:0:1:0:0:0:2", true), "[2001:db8:0:1::2]:7");
    EXPECT_EQ(peer_text("2001:db8:0:1::2", false), "2001:db8:0:1::/64");
    const net_address peer = address("10.9.0.2", 40312);
    char line[160];
    format_session_end(line, sizeof line, "daytime", &peer, 0, 25, 1234);
    EXPECT_STREQ(line, "daytime 10.9.0.2:40312: 0 bytes in, 25 out, 1.234 s");
}
