// The layout of the self-check stamp, shared by the programs and the build
// step that stamps them. Header-only, so that the host tool of a cross build
// needs nothing else.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "byte_order.h"

// The stamp record sits in each program's data: a 16-byte marker, then the
// CRC-32 of the whole file and the file's size, both little-endian. The
// checksum is taken with these last eight bytes counted as zeros.
#define VELMORA_STAMP_MARKER {0x7f, 'V', 'e', 'l', 'm', 'o', 'r', 'a', '-', 's', 't', 'a', 'm', 'p', 0x19, 0x97}

inline constexpr std::size_t stamp_marker_size = 16;
inline constexpr std::size_t stamp_record_size = stamp_marker_size + 8;

struct stamp_record {
    unsigned char marker[stamp_marker_size];
    unsigned char checksum[4];
    unsigned char file_size[4];
};

inline std::uint32_t stamp_crc32_update(std::uint32_t crc, const unsigned char* data, std::size_t size)
{
    static const auto table = [] {
        struct { std::uint32_t entry[256]; } t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t.entry[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table.entry[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

// CRC-32 of the image with the stamp's checksum and size fields as zeros.
inline std::uint32_t stamp_image_checksum(const unsigned char* image, std::size_t size, std::size_t record_offset)
{
    static const unsigned char zeros[8] = {};
    const std::size_t fields = record_offset + stamp_marker_size;
    std::uint32_t crc = stamp_crc32_update(0, image, fields);
    crc = stamp_crc32_update(crc, zeros, 8);
    return stamp_crc32_update(crc, image + fields + 8, size - fields - 8);
}

// Offset of the only occurrence of `marker` in the image, or -1 when it is
// missing or occurs more than once.
inline long stamp_find_record(const unsigned char* image, std::size_t size, const unsigned char* marker)
{
    long found = -1;
    if (size < stamp_record_size) return -1;
    for (std::size_t i = 0; i + stamp_record_size <= size; ++i) {
        if (image[i] == marker[0] && std::memcmp(image + i, marker, stamp_marker_size) == 0) {
            if (found >= 0) return -1;
            found = static_cast<long>(i);
        }
    }
    return found;
}

