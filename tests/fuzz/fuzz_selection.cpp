// The settings image loader, fed files of any size and content. A file
// shorter than 44 bytes or of another version than 256 leaves the record
// exactly as it was; any other takes its first 44 bytes, little-endian, and
// the image written back from the record is those 44 bytes again.
#include <cstring>
#include <vector>

#include "fuzz_check.h"
#include "settings_file.h"

namespace {

std::uint32_t le32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

ServiceSelection marked_record()
{
    ServiceSelection r{};
    r.format_version = 0x5EED0000u;
    for (int i = 0; i < selection_flag_count; ++i) r.flags[i] = 0xA5A5A500u + static_cast<std::uint32_t>(i);
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // An exact copy, so that a read past the file's end is caught even when
    // the fuzzer's own buffer would be larger.
    std::vector<std::uint8_t> file(data, data + size);
    ServiceSelection record = marked_record();
    const ServiceSelection untouched = record;
    const bool result = selection_from_image(file.data(), file.size(), &record);
    const bool acceptable = size >= selection_image_size && le32(data) == selection_format_version;
    FUZZ_REQUIRE(result == acceptable);
    if (!acceptable) {
        FUZZ_REQUIRE(std::memcmp(&record, &untouched, sizeof record) == 0);
        return 0;
    }
    FUZZ_REQUIRE(record.format_version == selection_format_version);
    for (int i = 0; i < selection_flag_count; ++i)
        FUZZ_REQUIRE(record.flags[i] == le32(data + 4 + 4 * i));
    unsigned char image[selection_image_size];
    selection_to_image(record, image);
    FUZZ_REQUIRE(std::memcmp(image, data, selection_image_size) == 0);
    return 0;
}
