#include "self_check.h"

#include <cstdio>
#include <vector>

#include "module_path.h"
#include "self_check_notice.h"
#include "stamp_format.h"

// The one copy of the marker in the program's file. The stamping step fills
// in the checksum and size after the final link. Volatile, so that the marker
// is read from here and never copied as a constant into the code.
[[gnu::used]] volatile const stamp_record velmora_stamp = {VELMORA_STAMP_MARKER, {0, 0, 0, 0}, {0, 0, 0, 0}};

bool self_check_image(const unsigned char* image, std::size_t size)
{
    unsigned char marker[stamp_marker_size];
    for (std::size_t i = 0; i < stamp_marker_size; ++i) marker[i] = velmora_stamp.marker[i];
    const long offset = stamp_find_record(image, size, marker);
    if (offset < 0) return false;
    const unsigned char* record = image + offset;
    const std::uint32_t stamped_size = read_le32(record + stamp_marker_size + 4);
    if (stamped_size != size) return false;
    const std::uint32_t stamped_sum = read_le32(record + stamp_marker_size);
    return stamped_sum == stamp_image_checksum(image, size, static_cast<std::size_t>(offset));
}

namespace {

bool file_passes(const char* path)
{
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    std::vector<unsigned char> image;
    unsigned char chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) image.insert(image.end(), chunk, chunk + got);
    const bool read_error = std::ferror(file) != 0;
    std::fclose(file);
    return !read_error && self_check_image(image.data(), image.size());
}

} // namespace

bool self_check_passes()
{
    char path[executable_path_size];
    return module_path(path, sizeof path) != 0 && file_passes(path);
}

bool self_check_at_start()
{
    char path[executable_path_size];
    if (module_path(path, sizeof path) == 0) {
        self_check_tell_altered("(the running program, whose path cannot be read)");
        return false;
    }
    if (file_passes(path)) return true;
    self_check_tell_altered(path);
    return false;
}
