// Whole files at once: settings and quote files, program images, what a
// program left behind.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// The file's bytes; empty when it cannot be read.
std::string read_file(const std::string& path);
std::vector<unsigned char> read_bytes(const std::string& path);
// Replaces the file's content (a new file gets mode 0644 less the umask).
bool write_file(const std::string& path, std::string_view bytes);
bool write_file(const std::string& path, const std::vector<unsigned char>& bytes);
