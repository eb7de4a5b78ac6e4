#include "console.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

// The run-time opens standard output in text mode, which would turn every
// line feed of a quote into CR LF. The programs print what the network sent.
void console_binary_output()
{
    std::fflush(stdout);
    _setmode(_fileno(stdout), _O_BINARY);
}

void console_write_output(const char* text, std::size_t length)
{
    std::fwrite(text, 1, length, stdout);
    std::fflush(stdout);
}

void console_write_error(const char* text)
{
    std::fputs(text, stderr);
    std::fflush(stderr);
}

void console_write_descriptor(int descriptor, const char* bytes, std::size_t length)
{
    while (length > 0) {
        const unsigned chunk = length > 0x7FFF0000u ? 0x7FFF0000u : static_cast<unsigned>(length);
        const int n = _write(descriptor, bytes, chunk);
        if (n <= 0) return;
        bytes += n;
        length -= static_cast<std::size_t>(n);
    }
}
