#include "settings_image.h"

std::vector<unsigned char> settings_image(std::uint32_t version, const std::vector<std::uint32_t>& flags)
{
    std::vector<unsigned char> image;
    auto put = [&image](std::uint32_t word) {
        for (int b = 0; b < 4; ++b) image.push_back(static_cast<unsigned char>(word >> (8 * b)));
    };
    put(version);
    for (std::size_t i = 0; i < 10; ++i) put(i < flags.size() ? flags[i] : 0);
    return image;
}

std::vector<unsigned char> all_services() { return settings_image(256, {1, 1, 1, 1, 1, 1, 1, 1, 0, 0}); }
