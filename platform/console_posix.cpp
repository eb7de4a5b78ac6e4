#include "console.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

// POSIX streams never translate bytes; there is nothing to switch.
void console_binary_output() {}

namespace {

void write_all(int fd, const char* text, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = ::write(fd, text, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        text += n;
        length -= static_cast<std::size_t>(n);
    }
}

} // namespace

// Straight to the descriptor, not through stdio: a writer held by a full pipe
// must not hold the stream's lock that the end of the program takes.
void console_write_output(const char* text, std::size_t length) { write_all(STDOUT_FILENO, text, length); }

void console_write_error(const char* text) { write_all(STDERR_FILENO, text, std::strlen(text)); }
