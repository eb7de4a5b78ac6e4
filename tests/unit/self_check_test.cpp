// The executable self-check on synthetic images, stamped the way the build
// step stamps the programs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

#include "program_run.h"
#include "self_check.h"
#include "stamp_format.h"

namespace {

const unsigned char marker[stamp_marker_size] = VELMORA_STAMP_MARKER;

// Filler that looks like a program's bytes, never holding the marker.
std::vector<unsigned char> filler(std::size_t size, std::uint32_t seed)
{
    std::vector<unsigned char> image(size);
    for (unsigned char& b : image) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<unsigned char>(seed >> 24);
    }
    return image;
}

void put_marker(std::vector<unsigned char>& image, std::size_t offset)
{
    std::copy(marker, marker + stamp_marker_size, image.begin() + static_cast<long>(offset));
}

void stamp(std::vector<unsigned char>& image, std::size_t offset)
{
    unsigned char* fields = image.data() + offset + stamp_marker_size;
    write_le32(fields, stamp_image_checksum(image.data(), image.size(), offset));
    write_le32(fields + 4, static_cast<std::uint32_t>(image.size()));
}

std::vector<unsigned char> stamped_image(std::size_t size, std::size_t offset)
{
    std::vector<unsigned char> image = filler(size, static_cast<std::uint32_t>(size + offset));
    put_marker(image, offset);
    stamp(image, offset);
    return image;
}

bool passes(const std::vector<unsigned char>& image) { return self_check_image(image.data(), image.size()); }

} // namespace

TEST(SelfCheck, IntactImagePassesWhereverTheRecordLies)
{
    EXPECT_TRUE(passes(stamped_image(4096, 1000)));
    EXPECT_TRUE(passes(stamped_image(4096, 0)));
    EXPECT_TRUE(passes(stamped_image(4096, 4096 - stamp_record_size)));
    EXPECT_TRUE(passes(stamped_image(stamp_record_size, 0)));
}

TEST(SelfCheck, UnstampedImageFails)
{
    std::vector<unsigned char> image = filler(2048, 5);
    put_marker(image, 512);
    for (std::size_t i = 0; i < 8; ++i) image[512 + stamp_marker_size + i] = 0;
    EXPECT_FALSE(passes(image));
}

TEST(SelfCheck, EverySingleChangedByteFails)
{
    const std::size_t offset = 1500;
    const std::vector<unsigned char> intact = stamped_image(3000, offset);
    ASSERT_TRUE(passes(intact));
    std::vector<unsigned char> image = intact;
    int missed = 0;
    for (std::size_t i = 0; i < image.size(); ++i) {
        for (unsigned char flip : {0x01, 0x80, 0xFF}) {
            image[i] ^= flip;
            if (passes(image)) {
                ++missed;
                ADD_FAILURE() << "byte " << i << " changed by " << int(flip) << " still passes";
            }
            image[i] ^= flip;
        }
        if (missed > 10) break;
    }
    EXPECT_TRUE(passes(image)) << "the test did not restore the image";
}

TEST(SelfCheck, AppendedOrTruncatedImageFails)
{
    const std::size_t offset = 200;
    const std::vector<unsigned char> intact = stamped_image(1024, offset);
    for (std::size_t extra : {1u, 4u, 4096u}) {
        std::vector<unsigned char> longer = intact;
        longer.insert(longer.end(), extra, 0);
        EXPECT_FALSE(passes(longer)) << extra << " bytes appended";
    }
    for (std::size_t cut : {std::size_t{1}, std::size_t{100}, 1024 - offset - stamp_record_size}) {
        const std::vector<unsigned char> shorter(intact.begin(), intact.end() - static_cast<long>(cut));
        EXPECT_FALSE(passes(shorter)) << cut << " bytes cut";
    }
    EXPECT_FALSE(self_check_image(intact.data(), 0));
}

TEST(SelfCheck, MissingOrDuplicateMarkerFails)
{
    EXPECT_FALSE(passes(filler(4096, 9)));
    // A second marker is refused even when the checksum over the whole image
    // is right for the first one.
    std::vector<unsigned char> twice = filler(4096, 11);
    put_marker(twice, 100);
    put_marker(twice, 3000);
    stamp(twice, 100);
    EXPECT_FALSE(passes(twice));
    std::vector<unsigned char> twice_late = filler(4096, 12);
    put_marker(twice_late, 100);
    put_marker(twice_late, 3000);
    stamp(twice_late, 3000);
    EXPECT_FALSE(passes(twice_late));
    // A marker cut off by the end of the image is no record.
    std::vector<unsigned char> cut = filler(4096, 13);
    put_marker(cut, 4096 - stamp_marker_size);
    EXPECT_FALSE(passes(cut));
}

// The build step and the program agree on the layout: a file stamped by the
// real tool passes the program's check.
TEST(SelfCheck, StampToolOutputPasses)
{
    char path[] = "/tmp/velmora-stamp-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::vector<unsigned char> image = filler(10000, 21);
    put_marker(image, 7777);
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    }
    EXPECT_EQ(run_to_end(VELMORA_STAMP_TOOL_PATH, {.arguments = {path}}, 10000).status, 0);
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> stamped((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ::unlink(path);
    ASSERT_EQ(stamped.size(), image.size());
    EXPECT_TRUE(passes(stamped));
    EXPECT_FALSE(passes(image));
}
