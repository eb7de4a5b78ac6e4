// Loading VESK.TXT into the quote table, and picking a slot for a draw.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "quote.h"
#include "random_generator.h"

namespace {

std::unique_ptr<quote_table> loaded(const std::string& file)
{
    auto table = std::make_unique<quote_table>();
    std::memset(table.get(), 0x5A, sizeof *table); // whatever was there before
    quote_load(table.get(), reinterpret_cast<const unsigned char*>(file.data()), file.size());
    return table;
}

// The slot as a session sends it; checks that the stored length and the
// terminating NUL agree.
std::string slot(const quote_table& table, int n)
{
    const char* text = reinterpret_cast<const char*>(table.text[n]);
    EXPECT_EQ(std::strlen(text), static_cast<std::size_t>(table.length[n])) << "slot " << n;
    return std::string(text, static_cast<std::size_t>(table.length[n]));
}

} // namespace

TEST(QuoteFile, DosExampleGivesThreeSlots)
{
    const auto table = loaded("Quote one.\r\n%\r\nQuote two\r\nsecond line.\r\n%\r\n");
    EXPECT_EQ(table->count, 2);
    EXPECT_EQ(slot(*table, 0), "Quote one.\r\n\r");
    EXPECT_EQ(slot(*table, 1), "\r\n\rQuote two\r\n\rsecond line.\r\n\r");
    EXPECT_EQ(slot(*table, 2), "\r\n\r");
    for (int n = 3; n < quote_slots; ++n) ASSERT_EQ(slot(*table, n), "") << n;
}

TEST(QuoteFile, DrawsSpreadOverTheSlotsWithDivisor32767)
{
    const int count = 2;
    for (int r = 0; r <= 16383; ++r) ASSERT_EQ(quote_pick(r, count), 0) << r;
    for (int r = 16384; r <= 32766; ++r) ASSERT_EQ(quote_pick(r, count), 1) << r;
    EXPECT_EQ(quote_pick(32767, count), 2);
    EXPECT_EQ(quote_pick(28322, 10), 8);
    EXPECT_EQ(quote_pick(32767, 299), 299);
    EXPECT_EQ(quote_pick(32766, 299), 298);
    EXPECT_EQ(quote_pick(32767, 0), 0);
    // The product needs 32 bits unsigned: 32767 x 299 does not fit 16.
    EXPECT_EQ(quote_pick(20000, 299), 182);
}

TEST(QuoteFile, LoneLineFeedsGetACarriageReturnBehind)
{
    const auto table = loaded("a\nb\n%\nc");
    EXPECT_EQ(table->count, 1);
    EXPECT_EQ(slot(*table, 0), "a\n\rb\n\r");
    EXPECT_EQ(slot(*table, 1), "\n\rc");
}

TEST(QuoteFile, WithoutSeparatorTheWholeFileIsOneQuote)
{
    const auto table = loaded("Only one.\r\nTwo lines.\r\n");
    EXPECT_EQ(table->count, 0);
    EXPECT_EQ(slot(*table, 0), "Only one.\r\n\rTwo lines.\r\n\r");
    EXPECT_EQ(slot(*table, 1), "");
}

TEST(QuoteFile, EmptyFileGivesOneEmptyQuote)
{
    const auto table = loaded("");
    EXPECT_EQ(table->count, 0);
    EXPECT_EQ(slot(*table, 0), "");
}

TEST(QuoteFile, NulBytesAreSkipped)
{
    const auto table = loaded(std::string("ab\0c%\0\0d\0", 10));
    EXPECT_EQ(table->count, 1);
    EXPECT_EQ(slot(*table, 0), "abc");
    EXPECT_EQ(slot(*table, 1), "d");
}

TEST(QuoteFile, NothingAfterThe299thSeparatorIsLoaded)
{
    std::string file;
    for (int i = 0; i < 320; ++i) file += "q" + std::to_string(i) + "%";
    file += "tail";
    const auto table = loaded(file);
    EXPECT_EQ(table->count, 299);
    EXPECT_EQ(slot(*table, 0), "q0");
    EXPECT_EQ(slot(*table, 298), "q298");
    EXPECT_EQ(slot(*table, 299), "");
}

TEST(QuoteFile, ExactlyThe299thSeparatorEndsTheLoad)
{
    std::string file;
    for (int i = 0; i < 299; ++i) file += std::to_string(i) + "%";
    const auto table = loaded(file + "after");
    EXPECT_EQ(table->count, 299);
    EXPECT_EQ(slot(*table, 298), "298");
    EXPECT_EQ(slot(*table, 299), "");

    auto fed = std::make_unique<quote_table>();
    quote_begin(fed.get());
    for (char c : file) ASSERT_TRUE(quote_feed(fed.get(), static_cast<unsigned char>(c)));
    EXPECT_FALSE(quote_feed(fed.get(), 'a'));
    EXPECT_EQ(slot(*fed, 299), "");
}

TEST(QuoteFile, OverLongQuoteIsCutAt512WithoutTouchingTheNext)
{
    const std::string long_quote(700, 'L');
    const auto table = loaded(long_quote + "%next%");
    EXPECT_EQ(table->count, 2);
    EXPECT_EQ(slot(*table, 0), std::string(512, 'L'));
    EXPECT_EQ(table->text[0][512], 0);
    EXPECT_EQ(slot(*table, 1), "next");
    EXPECT_EQ(slot(*table, 2), "");
}

TEST(QuoteFile, LineEndAtTheCutKeepsTheSlotTerminated)
{
    // The LF lands on the 512th byte; its CR has no room left.
    const auto table = loaded(std::string(511, 'x') + "\nafter%second");
    EXPECT_EQ(slot(*table, 0), std::string(511, 'x') + "\n");
    EXPECT_EQ(table->text[0][512], 0);
    EXPECT_EQ(slot(*table, 1), "second");
}

TEST(QuoteFile, LastSlotCutDoesNotSpillPastTheTable)
{
    std::string file;
    for (int i = 0; i < 298; ++i) file += "%";
    file += std::string(2000, 'E');
    const auto table = loaded(file);
    EXPECT_EQ(table->count, 298);
    EXPECT_EQ(slot(*table, 298), std::string(512, 'E'));
    EXPECT_EQ(slot(*table, 299), "");
}
