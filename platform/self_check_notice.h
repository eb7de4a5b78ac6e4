// What a program tells when its own file fails the self-check: one line on
// standard error on POSIX, nothing on Windows.
#pragma once

void self_check_tell_altered(const char* program_path);
