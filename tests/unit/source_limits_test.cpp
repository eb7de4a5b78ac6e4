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
    return std::string(reinterpret_cast<const char*>(&key), sizeof key);
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

TEST(SourceLimits, ALinkLocalSourceIsItsAddressOnItsLinkAndNat64ItsIpv4Host)
{
    EXPECT_NE(key_of("fe80::1%1"), key_of("fe80::2%1"));
    EXPECT_NE(key_of("fe80::1%1"), key_of("fe80::1%2"));
    EXPECT_EQ(key_of("fe80::1%1"), key_of("fe80::1%1"));
    EXPECT_NE(key_of("febf::1%1"), key_of("febf::2%1")) << "all of fe80::/10";
    EXPECT_EQ(key_of("64:ff9b::10.9.0.2"), key_of("10.9.0.2"));
    EXPECT_NE(key_of("64:ff9b::10.9.0.2"), key_of("64:ff9b::10.9.0.3"));
    EXPECT_NE(key_of("64:ff9b::127.0.0.1"), "loopback") << "no gateway speaks for loopback";
    EXPECT_EQ(key_of("64:ff9b:1::2"), key_of("64:ff9b:1::3")) << "outside the /96, a /64 as any";
    EXPECT_EQ(peer_text("fe80::7%2", false), "fe80::7%2");
    EXPECT_EQ(peer_text("64:ff9b::10.9.0.2", false), "10.9.0.2");
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

// Listeners read the clock before they take the lock: a reading older than
// the last one refills nothing.
TEST(SourceLimits, AnOlderClockReadingRefillsNothing)
{
    static source_limits* const limits = make(50, 0);
    ASSERT_NE(limits, nullptr);
    const net_address peer = address("10.9.0.2");
    const std::uint32_t t = 5000;
    while (source_reply_allowed(limits, &peer, 1, t) == source_verdict::allowed) {}
    EXPECT_EQ(source_reply_allowed(limits, &peer, 1, t + 1), source_verdict::refused);
    EXPECT_EQ(source_reply_allowed(limits, &peer, 1, t), source_verdict::refused);
    EXPECT_EQ(source_reply_allowed(limits, &peer, 1, t - 30000), source_verdict::refused);
    EXPECT_EQ(source_reply_allowed(limits, &peer, 1, t + 21), source_verdict::allowed) << "time goes on from t + 1";
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

// A table whose every place holds sessions still answers new sources, all
// of them together within one source's budget, and takes a source back in
// the order of use once its sessions end.
TEST(SourceLimits, SourcesWithoutAPlaceShareOneBudget)
{
    static source_limits* const limits = make(50, 1);
    ASSERT_NE(limits, nullptr);
    for (int i = 0; i < source_table_size; ++i) {
        net_address holder = net_ipv4_address(0x0B000000u + static_cast<std::uint32_t>(i), 1);
        ASSERT_EQ(source_session_begin(limits, &holder, 10), source_verdict::allowed) << i;
    }
    const net_address one = address("10.9.0.8"), other = address("2001:db8::9");
    for (int i = 0; i < reply_burst(50); ++i)
        EXPECT_EQ(source_reply_allowed(limits, i % 2 ? &one : &other, 3, 20), source_verdict::allowed) << i;
    EXPECT_EQ(source_reply_allowed(limits, &one, 3, 20), source_verdict::full_first);
    EXPECT_EQ(source_reply_allowed(limits, &other, 3, 20), source_verdict::refused);
    EXPECT_EQ(source_reply_allowed(limits, &other, 3, 40), source_verdict::allowed) << "the shared rate";
    EXPECT_EQ(source_session_begin(limits, &one, 40), source_verdict::refused);
    // Two holders end their sessions: the first to end is the first to give
    // way, and the later keeps its place (and budget) meanwhile.
    const net_address first = net_ipv4_address(0x0B000007u, 1), second = net_ipv4_address(0x0B000003u, 1);
    source_session_end(limits, &first);
    source_session_end(limits, &second);
    for (int i = 0; i < reply_burst(50); ++i) ASSERT_EQ(source_reply_allowed(limits, &second, 3, 50), source_verdict::allowed);
    EXPECT_EQ(source_session_begin(limits, &one, 60), source_verdict::allowed) << "took the first's place";
    EXPECT_EQ(source_reply_allowed(limits, &second, 3, 60), source_verdict::refused_first) << "kept its spent budget";
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
    // Past the tick count's wrap of 49.7 days, the wall clock counts the wraps.
    format_session_end(line, sizeof line, "echo", &peer, 1, 2, session_length_ms(1234, 50 * 86400));
    EXPECT_STREQ(line, "echo 10.9.0.2:40312: 1 bytes in, 2 out, 4294968.530 s");
    EXPECT_EQ(session_length_ms(1234, 3601), 1234u) << "a wall clock stepped an hour";
    EXPECT_EQ(session_length_ms(1234, -86400), 1234u) << "or back a day";
}
