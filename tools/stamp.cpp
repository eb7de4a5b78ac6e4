// Stamps the self-check record of a linked program: finds the one marker in
// the file and writes the CRC-32 of the whole file and its size behind it.
// Run after the final link and after any stripping.
#include <cstdio>
#include <vector>

#include "../platform/stamp_format.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: velmora_stamp PROGRAM\n");
        return 2;
    }
    std::FILE* file = std::fopen(argv[1], "r+b");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::vector<unsigned char> image;
    int c;
    while ((c = std::fgetc(file)) != EOF) image.push_back(static_cast<unsigned char>(c));
    static const unsigned char marker[stamp_marker_size] = VELMORA_STAMP_MARKER;
    const long offset = stamp_find_record(image.data(), image.size(), marker);
    if (offset < 0) {
        std::fprintf(stderr, "%s: no single stamp record in the file\n", argv[1]);
        std::fclose(file);
        return 1;
    }
    unsigned char fields[8];
    write_le32(fields, stamp_image_checksum(image.data(), image.size(), static_cast<std::size_t>(offset)));
    write_le32(fields + 4, static_cast<std::uint32_t>(image.size()));
    const bool ok = std::fseek(file, offset + static_cast<long>(stamp_marker_size), SEEK_SET) == 0 &&
                    std::fwrite(fields, 1, sizeof fields, file) == sizeof fields;
    if (std::fclose(file) != 0 || !ok) {
        std::fprintf(stderr, "%s: cannot write the stamp\n", argv[1]);
        return 1;
    }
    return 0;
}
