#include "shown_text.h"

#include <cstring>

#include "threads.h"

namespace {

struct shown_text {
    thread_lock* guard;
    char text[shown_text_size];
};

// Made by start-up's first store, before any other thread runs.
shown_text& the_text()
{
    static shown_text kept{thread_lock_create(), {}};
    return kept;
}

void copy_text(char* out, std::size_t out_size, const char* text)
{
    if (out_size == 0) return;
    std::size_t length = std::strlen(text);
    if (length > out_size - 1) length = out_size - 1;
    std::memmove(out, text, length);
    out[length] = '\0';
}

} // namespace

void shown_text_store(const char* text)
{
    shown_text& kept = the_text();
    if (kept.guard == nullptr) return;
    thread_lock_take(kept.guard);
    copy_text(kept.text, shown_text_size, text);
    thread_lock_release(kept.guard);
}

void shown_text_copy(char* out, std::size_t out_size)
{
    shown_text& kept = the_text();
    if (kept.guard == nullptr) {
        copy_text(out, out_size, "");
        return;
    }
    thread_lock_take(kept.guard);
    copy_text(out, out_size, kept.text);
    thread_lock_release(kept.guard);
}
