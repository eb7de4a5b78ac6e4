// The daytime text, the time value and the ISO C generator.
#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "daytime.h"
#include "random_generator.h"
#include "time_service.h"

namespace {

std::string daytime(int year, int month, int day, int hour, int minute, int second, int weekday)
{
    char text[daytime_text_size + 1] = {};
    text[daytime_text_size] = 'Z';
    EXPECT_EQ(format_daytime(calendar_time{year, month, day, hour, minute, second, weekday}, text),
              daytime_text_size);
    EXPECT_EQ(text[daytime_text_size], 'Z') << "written past 25 bytes";
    return std::string(text, daytime_text_size);
}

std::string hex4(std::int64_t seconds)
{
    unsigned char b[4];
    time_bytes(seconds, b);
    char text[12];
    std::snprintf(text, sizeof text, "%02X %02X %02X %02X", b[0], b[1], b[2], b[3]);
    return text;
}

} // namespace

TEST(Daytime, AsctimeLayoutWithSpacePaddedDay)
{
    EXPECT_EQ(daytime(2026, 11, 6, 4, 45, 17, 0), "Sun Dec  6 04:45:17 2026\n");
    EXPECT_EQ(daytime(2026, 0, 1, 0, 0, 0, 4), "Thu Jan  1 00:00:00 2026\n");
    EXPECT_EQ(daytime(2026, 0, 9, 4, 5, 9, 5), "Fri Jan  9 04:05:09 2026\n");
    EXPECT_EQ(daytime(1999, 11, 31, 23, 59, 59, 5), "Fri Dec 31 23:59:59 1999\n");
    EXPECT_EQ(daytime(2000, 1, 10, 12, 0, 0, 4), "Thu Feb 10 12:00:00 2000\n");
    EXPECT_EQ(daytime(2005, 6, 4, 9, 30, 0, 1), "Mon Jul  4 09:30:00 2005\n");
}

// The same text as the C library's asctime gives for a run of real dates.
TEST(Daytime, AgreesWithAsctimeAcrossYears)
{
    for (std::time_t t = 0; t < 4102444800; t += 86400 * 37 + 3671) {
        std::tm tm{};
        ASSERT_NE(::gmtime_r(&t, &tm), nullptr);
        char reference[64];
        ASSERT_NE(::asctime_r(&tm, reference), nullptr);
        EXPECT_EQ(daytime(tm.tm_year + 1900, tm.tm_mon, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_wday),
                  reference);
    }
}

TEST(TimeValue, SecondsSince1900MostSignificantFirst)
{
    EXPECT_EQ(hex4(0), "83 AA 7E 80");
    EXPECT_EQ(hex4(946684800), "BC 17 C2 00"); // 2000-01-01 00:00:00 UTC
    EXPECT_EQ(time_value(946684800), 3155673600u);
    EXPECT_EQ(hex4(1), "83 AA 7E 81");
    EXPECT_EQ(hex4(256), "83 AA 7F 80");
}

TEST(TimeValue, WrapsAfter2036InsteadOfClamping)
{
    const std::int64_t wrap = 2085978496; // 2036-02-07 06:28:16 UTC
    EXPECT_EQ(time_value(wrap - 1), 0xFFFFFFFFu);
    EXPECT_EQ(hex4(wrap), "00 00 00 00");
    EXPECT_EQ(hex4(wrap + 1), "00 00 00 01");
    EXPECT_EQ(time_value(wrap + 86400), 86400u);
}

TEST(Random, IsTheIsoCExampleGenerator)
{
    std::uint32_t seed = 1000;
    EXPECT_EQ(random_next(&seed), 28322);
    EXPECT_EQ(seed, 1000u * 1103515245u + 12345u);
    // Seed 1 gives the C standard's well-known first values.
    std::uint32_t one = 1;
    EXPECT_EQ(random_next(&one), 16838);
    EXPECT_EQ(random_next(&one), 5758);
    EXPECT_EQ(random_next(&one), 10113);
}

TEST(Random, ThreadSeedIsSetExplicitly)
{
    random_seed(1000);
    EXPECT_EQ(random_next(), 28322);
    random_seed(1000);
    EXPECT_EQ(random_next(), 28322);
    random_seed(1);
    EXPECT_EQ(random_next(), 16838);
}
