// Runs a fuzz target over stored inputs without libFuzzer, so that the
// corpus and every input that once broke a target are replayed by the
// ordinary test run, under whichever sanitizers that build uses.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_check.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::uint8_t> read_whole(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path place(argv[i]);
        if (fs::is_directory(place)) {
            for (const auto& entry : fs::directory_iterator(place))
                if (entry.is_regular_file()) inputs.push_back(entry.path());
        } else if (fs::is_regular_file(place)) {
            inputs.push_back(place);
        } else {
            std::fprintf(stderr, "no such input: %s\n", argv[i]);
            return 2;
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "nothing to replay\n");
        return 2;
    }
    for (const fs::path& input : inputs) {
        const std::vector<std::uint8_t> bytes = read_whole(input);
        std::fprintf(stderr, "replaying %s (%zu bytes)\n", input.filename().c_str(), bytes.size());
        // A copy of exactly the input's size, as libFuzzer hands it over.
        std::vector<std::uint8_t> exact(bytes);
        LLVMFuzzerTestOneInput(exact.data(), exact.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
