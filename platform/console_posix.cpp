#include "console.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

// POSIX streams never translate bytes; there is nothing to switch.
void console_binary_output() {}

void console_write_descriptor(int descriptor, const char* bytes, std::size_t length)
{
    while (length > 0) {
        const ssize_t n = ::write(descriptor, bytes, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
}

// Straight to the descriptor, not through stdio: a writer held by a full pipe
// must not hold the stream's lock that the end of the program takes.
void console_write_output(const char* text, std::size_t length)
{
    console_write_descriptor(STDOUT_FILENO, text, length);
}

void console_write_error(const char* text) { console_write_descriptor(STDERR_FILENO, text, std::strlen(text)); }
