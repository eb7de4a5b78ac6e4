// The settings file VELMORA.CFG is the byte image of ServiceSelection: eleven
// little-endian 32-bit words, version 256 first.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "settings_file.h"
#include "settings_image.h"

namespace {

ServiceSelection marked_record()
{
    ServiceSelection r{};
    r.format_version = 7;
    r.flags[0] = 0xAAAA;
    r.flags[9] = 0xBBBB;
    return r;
}

} // namespace

TEST(Selection, WrittenImageIsVersionThenTenFlagsInRecordOrder)
{
    ServiceSelection r{};
    r.format_version = 256;
    r.flags[0] = 1;
    r.flags[3] = 1;
    r.flags[6] = 1;
    r.flags[7] = 1;
    r.flags[9] = 1;
    unsigned char out[selection_image_size];
    std::memset(out, 0xCC, sizeof out);
    selection_to_image(r, out);
    // echo discard daytime quote chargen telnet time dns service autostart
    const std::vector<unsigned char> expected = settings_image(256, {1, 0, 0, 1, 0, 0, 1, 1, 0, 1});
    EXPECT_EQ(std::vector<unsigned char>(out, out + sizeof out), expected);
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0x01);
    EXPECT_EQ(out[2], 0x00);
    EXPECT_EQ(out[3], 0x00);
}

TEST(Selection, ReadingTakesEveryFlagAsStored)
{
    const std::vector<unsigned char> image = settings_image(256, {1, 2, 3, 4, 5, 6, 7, 8, 9, 0x01020304});
    ServiceSelection r{};
    ASSERT_TRUE(selection_from_image(image.data(), image.size(), &r));
    EXPECT_EQ(r.format_version, 256u);
    EXPECT_EQ(r.flags[0], 1u);
    EXPECT_EQ(r.flags[1], 2u);
    EXPECT_EQ(r.flags[2], 3u);
    EXPECT_EQ(r.flags[3], 4u);
    EXPECT_EQ(r.flags[4], 5u);
    EXPECT_EQ(r.flags[5], 6u);
    EXPECT_EQ(r.flags[6], 7u);
    EXPECT_EQ(r.flags[7], 8u);
    EXPECT_EQ(r.flags[8], 9u);
    EXPECT_EQ(r.flags[9], 0x01020304u);
}

TEST(Selection, OnlyTheFirst44BytesOfALongerFileCount)
{
    std::vector<unsigned char> image = settings_image(256, {0, 1, 0, 1, 0, 1, 0, 1, 0, 1});
    image.insert(image.end(), 20, 0xFF);
    ServiceSelection r{};
    ASSERT_TRUE(selection_from_image(image.data(), image.size(), &r));
    EXPECT_EQ(r.flags[0], 0u);
    EXPECT_EQ(r.flags[1], 1u);
    EXPECT_EQ(r.flags[9], 1u);
}

TEST(Selection, ShortFileOrForeignVersionIsIgnoredWhole)
{
    const std::vector<unsigned char> good = settings_image(256, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1});
    struct case_ { const char* what; std::vector<unsigned char> image; };
    const case_ cases[] = {
        {"empty", {}},
        {"43 bytes", std::vector<unsigned char>(good.begin(), good.end() - 1)},
        {"header only", std::vector<unsigned char>(good.begin(), good.begin() + 4)},
        {"version 0", settings_image(0, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1})},
        {"version 257", settings_image(257, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1})},
        {"version big-endian 256", settings_image(0x00010000, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1})},
    };
    for (const case_& c : cases) {
        ServiceSelection r = marked_record();
        EXPECT_FALSE(selection_from_image(c.image.data(), c.image.size(), &r)) << c.what;
        const ServiceSelection before = marked_record();
        EXPECT_EQ(std::memcmp(&r, &before, sizeof r), 0) << c.what << ": the record changed";
    }
}
