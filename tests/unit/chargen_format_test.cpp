// The character generator's ring, its TCP lines and its UDP reply.
#include <gtest/gtest.h>

#include <string>

#include "chargen.h"
#include "random_generator.h"

namespace {

// The 94-character ring written out by hand: 0x21..0x7E without the
// backslash, then the space.
std::string expected_ring()
{
    std::string ring;
    for (int c = 0x21; c <= 0x7E; ++c)
        if (c != 0x5C) ring += static_cast<char>(c);
    return ring + ' ';
}

// Line k of a TCP stream, counting from 1, as the session produces it.
std::string line_number(int k)
{
    int counter = 0;
    for (int i = 0; i < k; ++i) counter = chargen_next_counter(counter);
    unsigned char line[chargen_line_size];
    chargen_fill_line(counter, line);
    return std::string(reinterpret_cast<const char*>(line), chargen_line_size);
}

} // namespace

TEST(ChargenRing, NinetyFourCharactersWithoutBackslashSpaceLast)
{
    const std::string ring(reinterpret_cast<const char*>(chargen_ring), chargen_ring_size);
    EXPECT_EQ(ring, expected_ring());
    EXPECT_EQ(ring.find('\\'), std::string::npos);
    EXPECT_EQ(ring[0], '!');
    EXPECT_EQ(ring[58], '[');
    EXPECT_EQ(ring[59], ']');
    EXPECT_EQ(ring[92], '~');
    EXPECT_EQ(ring[93], ' ');
}

TEST(ChargenLines, FirstLinesStartOneFurtherAlong)
{
    const std::string ring = expected_ring();
    const std::string first = line_number(1);
    EXPECT_EQ(first, ring.substr(1, 72) + "\r\n");
    EXPECT_EQ(first.front(), '"');
    EXPECT_EQ(first[71], 'j');
    EXPECT_EQ(line_number(2).front(), '#');
    EXPECT_EQ(line_number(93).front(), ' ');
    // Line 93 starts at the space and wraps round to the ring's start.
    EXPECT_EQ(line_number(93).substr(0, 3), " !\"");
}

TEST(ChargenLines, Lines94And95AreTheSameAnd96RepeatsTheFirst)
{
    EXPECT_EQ(line_number(94), line_number(95));
    EXPECT_EQ(line_number(94).front(), '!');
    EXPECT_EQ(line_number(96), line_number(1));
    EXPECT_EQ(line_number(95 + 40), line_number(40));
}

TEST(ChargenUdp, ReplyBufferRunsRoundTheRingFromItsStart)
{
    const std::string ring = expected_ring();
    unsigned char reply[chargen_udp_buffer];
    chargen_fill_udp(reply);
    for (int i = 0; i < chargen_udp_buffer; ++i) ASSERT_EQ(reply[i], ring[i % 94]) << i;
    EXPECT_EQ(reply[0], '!');
    EXPECT_EQ(reply[94], '!');
    EXPECT_EQ(reply[93], ' ');
}

TEST(ChargenUdp, LengthIsTheDrawOver64)
{
    EXPECT_EQ(chargen_udp_length(0), 0);
    EXPECT_EQ(chargen_udp_length(63), 0);
    EXPECT_EQ(chargen_udp_length(64), 1);
    EXPECT_EQ(chargen_udp_length(28322), 442);
    EXPECT_EQ(chargen_udp_length(32767), 511);
}
