#include "test_files.h"

#include <fstream>
#include <iterator>

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<unsigned char> read_bytes(const std::string& path)
{
    const std::string bytes = read_file(path);
    return std::vector<unsigned char>(bytes.begin(), bytes.end());
}

bool write_file(const std::string& path, std::string_view bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool write_file(const std::string& path, const std::vector<unsigned char>& bytes)
{
    return write_file(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}
