// A temporary folder for copies of the programs and their files, removed
// with everything in it when the object goes.
#pragma once

#include <string>

class scratch_folder {
public:
    scratch_folder();
    ~scratch_folder();
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;

    // The full path of `name` inside the folder.
    std::string path(const std::string& name) const;
    bool ok() const { return !root_.empty(); }

private:
    std::string root_;
};

std::string read_file(const std::string& path);
bool write_file(const std::string& path, const std::string& content);
// Writes `image` as an executable program.
bool write_program(const std::string& path, const std::string& image);
// Copies a program, keeping it executable.
bool copy_program(const std::string& from, const std::string& to);
