#include "scratch_folder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

scratch_folder::scratch_folder()
{
    char pattern[] = "/tmp/velmora-clients-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) root_ = pattern;
}

scratch_folder::~scratch_folder()
{
    std::error_code ignored;
    if (!root_.empty()) std::filesystem::remove_all(root_, ignored);
}

std::string scratch_folder::path(const std::string& name) const { return root_ + "/" + name; }

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool write_file(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return static_cast<bool>(out);
}

bool write_program(const std::string& path, const std::string& image)
{
    if (!write_file(path, image)) return false;
    std::error_code error;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, error);
    return !error;
}

bool copy_program(const std::string& from, const std::string& to)
{
    std::error_code error;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
    if (error) return false;
    std::filesystem::permissions(to, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, error);
    return !error;
}
