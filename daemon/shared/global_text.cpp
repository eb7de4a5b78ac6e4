#include "global_text.h"

#include <atomic>
#include <cstring>

char global_text[global_text_size];

namespace {

// The listeners and the shell meet here at any moment; a copy of at most
// 300 bytes is all anyone waits for, so a spin lock does (and it needs no
// thread library, which the Windows build's run-time lacks for std::mutex).
std::atomic_flag global_text_busy = ATOMIC_FLAG_INIT;

void copy_text(char* out, std::size_t out_size, const char* text)
{
    if (out_size == 0) return;
    std::size_t length = std::strlen(text);
    if (length > out_size - 1) length = out_size - 1;
    std::memmove(out, text, length);
    out[length] = '\0';
}

} // namespace

void global_text_store(const char* text)
{
    while (global_text_busy.test_and_set(std::memory_order_acquire)) {
    }
    copy_text(global_text, global_text_size, text);
    global_text_busy.clear(std::memory_order_release);
}

void global_text_copy(char* out, std::size_t out_size)
{
    while (global_text_busy.test_and_set(std::memory_order_acquire)) {
    }
    global_text[global_text_size - 1] = '\0';
    copy_text(out, out_size, global_text);
    global_text_busy.clear(std::memory_order_release);
}
