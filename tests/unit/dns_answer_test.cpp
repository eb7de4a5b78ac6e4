// The DNS probe turns each query into a response with one fixed A record.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "dns.h"
#include "random_generator.h"
#include "recent_datagrams.h"
#include "sockets.h"

namespace {

using bytes = std::vector<unsigned char>;

const bytes record = {0x01, 0x78, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,
                      0x00, 0x00, 0x00, 0x04, 0x5A, 0x00, 0x00, 0x66};

// Runs the probe over a copy of the query in a buffer with the listener's
// room, and returns the answer (empty when there is none).
bytes answer(const bytes& query)
{
    unsigned char buffer[272 + 8];
    std::memset(buffer, 0xEE, sizeof buffer);
    if (!query.empty()) std::memcpy(buffer, query.data(), query.size());
    const int length = dns_build_answer(buffer, static_cast<int>(query.size()));
    EXPECT_EQ(buffer[272], 0xEE) << "written past the listener's buffer";
    if (length == 0) {
        EXPECT_TRUE(std::equal(query.begin(), query.end(), buffer)) << "a dropped datagram was changed";
        return {};
    }
    return bytes(buffer, buffer + length);
}

} // namespace

TEST(DnsAnswer, StandardQueryGetsTheExact36Bytes)
{
    const bytes query = {0x12, 0x34, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                         0x00, 0x00, 0x01, 0x71, 0x00, 0x00, 0x01, 0x00, 0x01};
    const bytes expected = {0x12, 0x34, 0x85, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                            0x01, 0x71, 0x00, 0x00, 0x01, 0x00, 0x01, 0x01, 0x78, 0x00, 0x00, 0x01,
                            0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x5A, 0x00, 0x00, 0x66};
    EXPECT_EQ(answer(query), expected);
}

TEST(DnsAnswer, HeaderOnlyGets29AndShorterNothing)
{
    const bytes header(12, 0x00);
    bytes expected = header;
    expected[2] = 0x84;
    expected[7] = 0x01;
    expected.insert(expected.end(), record.begin(), record.end());
    EXPECT_EQ(answer(header), expected);
    for (std::size_t n : {0u, 1u, 11u}) EXPECT_TRUE(answer(bytes(n, 0x42)).empty()) << n;
}

TEST(DnsAnswer, LongestQueryGets272)
{
    bytes query(255);
    for (std::size_t i = 0; i < query.size(); ++i) query[i] = static_cast<unsigned char>(i * 7);
    const bytes got = answer(query);
    ASSERT_EQ(got.size(), 272u);
    EXPECT_TRUE(std::equal(query.begin() + 12, query.end(), got.begin() + 12));
    EXPECT_TRUE(std::equal(record.begin(), record.end(), got.begin() + 255));
}

TEST(DnsAnswer, OnlyQrAaAndAncountLowChange)
{
    // Opcode, TC, RD, RA, Z, RCODE and the ANCOUNT high byte as received.
    bytes query = {0xAB, 0xCD, 0x7B, 0x8F, 0x00, 0x02, 0x03, 0x09, 0x00, 0x05, 0x00, 0x06, 0x00};
    const bytes got = answer(query);
    ASSERT_EQ(got.size(), query.size() + 17);
    EXPECT_EQ(got[0], 0xAB);
    EXPECT_EQ(got[1], 0xCD);
    EXPECT_EQ(got[2], 0x7B | 0x84);
    EXPECT_EQ(got[3], 0x8F);
    EXPECT_EQ(got[4], 0x00);
    EXPECT_EQ(got[5], 0x02);
    EXPECT_EQ(got[6], 0x03);
    EXPECT_EQ(got[7], 0x01);
    EXPECT_EQ(got[9], 0x05);
    EXPECT_EQ(got[11], 0x06);
    // A datagram that is already a response is answered the same way.
    bytes response(12, 0xFF);
    const bytes again = answer(response);
    ASSERT_EQ(again.size(), 29u);
    EXPECT_EQ(again[2], 0xFF);
    EXPECT_EQ(again[7], 0x01);
}

TEST(DnsAnswer, QueryWithMoreThanItsQuestionGetsHeaderQuestionAndRecordOnly)
{
    // dig's default query: a question for example.org, A, IN, and an OPT
    // record with a cookie in the additional section.
    const bytes header = {0xBE, 0xEF, 0x01, 0x20, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};
    const bytes question = {0x07, 'e', 'x', 'a', 'm', 'p', 'l', 'e', 0x03, 'o', 'r', 'g', 0x00, 0x00, 0x01, 0x00, 0x01};
    const bytes opt = {0x00, 0x00, 0x29, 0x04, 0xD0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x0A,
                       0x00, 0x08, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    bytes query = header;
    query.insert(query.end(), question.begin(), question.end());
    query.insert(query.end(), opt.begin(), opt.end());
    bytes expected = {0xBE, 0xEF, 0x85, 0x20, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
    expected.insert(expected.end(), question.begin(), question.end());
    expected.insert(expected.end(), record.begin(), record.end());
    EXPECT_EQ(answer(query), expected);

    // Records in the answer section (ANCOUNT 0x0100) and bytes that no count
    // announces are dropped the same way; a second question may point to
    // the first one's name.
    bytes two = {0x00, 0x07, 0x00, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                 0x01, 'q', 0x00, 0x00, 0x0F, 0x00, 0x01, 0xC0, 0x0C, 0x00, 0x1C, 0x00, 0x01};
    const std::size_t questions_end = two.size();
    two.insert(two.end(), {0xAA, 0xBB, 0xCC});
    const bytes got = answer(two);
    ASSERT_EQ(got.size(), questions_end + record.size());
    EXPECT_EQ(bytes(got.begin() + 4, got.begin() + 12), (bytes{0x00, 0x02, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_TRUE(std::equal(two.begin() + 12, two.begin() + 25, got.begin() + 12));
    EXPECT_TRUE(std::equal(record.begin(), record.end(), got.begin() + 25));

    // The same datagram as a response is not a query: it is built whole
    // with the record behind, as every response was.
    bytes response = query;
    response[2] |= 0x80;
    const bytes grown = answer(response);
    ASSERT_EQ(grown.size(), query.size() + record.size());
    EXPECT_TRUE(std::equal(query.begin() + 8, query.end(), grown.begin() + 8));
}

TEST(DnsAnswer, QuestionThatCannotBeWalkedKeepsTheQueryWhole)
{
    // None of these questions fits in its datagram (a walk that ran over
    // the end would cut the query short): the record follows the query as
    // received, its counts included.
    bytes reserved_label = {0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0x41};
    reserved_label.resize(reserved_label.size() + 80, 0x00); // would walk as a label of 65
    const bytes queries[] = {
        reserved_label,
        {0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0x05, 'a', 'b'},             // label past the end
        {0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0x01, 'a', 0x00, 0x00, 0x01}, // type and class cut
        {0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0xC0},                        // pointer cut
        {0, 1, 0, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 1, 0x00, 0, 1, 0, 1},      // more questions than bytes
    };
    for (const bytes& query : queries) {
        const bytes got = answer(query);
        ASSERT_EQ(got.size(), query.size() + record.size());
        EXPECT_EQ(got[7], 0x01);
        EXPECT_EQ(got[11], 0x01) << "ARCOUNT as received";
        EXPECT_TRUE(std::equal(query.begin() + 12, query.end(), got.begin() + 12));
    }
}

// What keeps the probe out of an exchange with another responder: a
// response is never answered, and the same bytes from the same sender within
// the window are answered once.
TEST(DnsReflector, ResponsesAndQuickRepeatsAreNotAnswered)
{
    const bytes query = {0x12, 0x34, 0x01, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0};
    bytes response = query;
    response[2] |= 0x80;
    EXPECT_FALSE(dns_is_response(query.data(), static_cast<int>(query.size())));
    EXPECT_TRUE(dns_is_response(response.data(), static_cast<int>(response.size())));

    const std::unique_ptr<recent_datagrams> made = recent_datagrams_make();
    ASSERT_NE(made, nullptr);
    recent_datagrams& table = *made;
    net_address one = net_ipv4_address(0x7F000001, 5000), other = net_ipv4_address(0x7F000001, 5001);
    const int n = static_cast<int>(query.size());
    const std::uint32_t t = 0xFFFFFF00u; // the tick count wraps within the window
    EXPECT_TRUE(recent_datagrams_admit(&table, &one, query.data(), n, t));
    EXPECT_FALSE(recent_datagrams_admit(&table, &one, query.data(), n, t + 10));
    EXPECT_FALSE(recent_datagrams_admit(&table, &one, query.data(), n, t + 900));
    EXPECT_TRUE(recent_datagrams_admit(&table, &other, query.data(), n, t + 910)) << "another sender";
    bytes next = query;
    next[1] = 0x35;
    EXPECT_TRUE(recent_datagrams_admit(&table, &one, next.data(), n, t + 920)) << "another ID";
    EXPECT_TRUE(recent_datagrams_admit(&table, &one, query.data(), n, t + recent_window_ms))
        << "a client asking again a second after its answer, however often it asked meanwhile";
    EXPECT_FALSE(recent_datagrams_admit(&table, &one, query.data(), n, t + recent_window_ms + 10));

    // Distinct queries from one socket at full rate: every one is new.
    int refused = 0;
    for (std::uint32_t id = 0; id < 200000; ++id) {
        bytes q = query;
        q[0] = static_cast<unsigned char>(id >> 8);
        q[1] = static_cast<unsigned char>(id);
        q.push_back(static_cast<unsigned char>(id >> 16));
        refused += !recent_datagrams_admit(&table, &one, q.data(), n + 1, t + id / 100);
    }
    EXPECT_EQ(refused, 0);
}

// A reflector keeps many datagrams circulating at once: each ends at its
// first repeat as long as no more than the table holds circulate, and
// none is forgotten before recent_capacity answers have followed it.
TEST(DnsReflector, EveryCirculatingDatagramEndsAtItsFirstRepeat)
{
    const std::unique_ptr<recent_datagrams> table = recent_datagrams_make();
    ASSERT_NE(table, nullptr);
    const net_address reflector = net_ipv4_address(0x7F000001, 5000);
    std::uint32_t seed = 7;
    std::vector<bytes> circulating(recent_capacity);
    for (bytes& b : circulating) {
        b.resize(20);
        for (unsigned char& c : b) c = static_cast<unsigned char>(random_next(&seed));
    }
    int answered = 0;
    for (int round = 0; round < 3; ++round)
        for (const bytes& b : circulating)
            answered += recent_datagrams_admit(table.get(), &reflector, b.data(), 20, 1000 + round);
    EXPECT_EQ(answered, recent_capacity) << "each answered once";
    // One answer more pushes the oldest out, and only it.
    const bytes fresh(20, 0xEE);
    EXPECT_TRUE(recent_datagrams_admit(table.get(), &reflector, fresh.data(), 20, 1100));
    EXPECT_TRUE(recent_datagrams_admit(table.get(), &reflector, circulating[0].data(), 20, 1100));
    EXPECT_FALSE(recent_datagrams_admit(table.get(), &reflector, circulating[2].data(), 20, 1100));
}
