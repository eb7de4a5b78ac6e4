#include "output_lines.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "clock.h"
#include "console.h"
#include "threads.h"

namespace {

constexpr int line_room = 64;
constexpr int queue_lines = 1024; // 64 KiB, as much as a pipe holds
constexpr int batch_lines = 32;   // what the writer takes at once, on its own small stack
// Once woken, the writer lets lines gather this long before it writes them:
// a busy listener then costs one waking and a few writes every so often
// instead of a waking, two thread switches and a write per line. At tens
// of thousands of lines a second that is a few hundred lines, well within
// the queue.
constexpr unsigned gather_ms = 2;

struct queued_line {
    char text[line_room];
    int length;
};

// Guarded by `guard`, which is made with `waiting` before the listeners
// start.
thread_lock* guard = nullptr;
queued_line queue[queue_lines];
int first = 0;
int count = 0;
unsigned long dropped = 0;

thread_signal* waiting = nullptr; // set once, before the listeners start

void write_dropped(unsigned long lines)
{
    char text[line_room * 2];
    const int length = std::snprintf(text, sizeof text,
                                     "(%lu lines of output were dropped: standard output was not read)\n", lines);
    if (length > 0) console_write_output(text, static_cast<std::size_t>(length));
}

void writer(void*)
{
    queued_line batch[batch_lines];
    for (;;) {
        thread_signal_wait(waiting);
        clock_sleep_ms(gather_ms);
        for (;;) {
            thread_lock_take(guard);
            int taken = 0;
            while (taken < batch_lines && count > 0) {
                batch[taken++] = queue[first];
                first = (first + 1) % queue_lines;
                --count;
            }
            // The count goes out after the lines that were queued before the
            // drops began, where the gap is.
            const unsigned long lost = count == 0 ? dropped : 0;
            if (count == 0) dropped = 0;
            thread_lock_release(guard);
            if (taken == 0 && lost == 0) break;
            char joined[batch_lines * line_room];
            std::size_t length = 0;
            for (int i = 0; i < taken; ++i) {
                std::memcpy(joined + length, batch[i].text, static_cast<std::size_t>(batch[i].length));
                length += static_cast<std::size_t>(batch[i].length);
            }
            if (length > 0) console_write_output(joined, length);
            if (lost > 0) write_dropped(lost);
        }
    }
}

} // namespace

void output_lines_start()
{
    if (waiting != nullptr) return;
    thread_signal* signal = thread_signal_create();
    if (signal == nullptr) return;
    if (guard == nullptr) guard = thread_lock_create();
    if (guard == nullptr) return;
    waiting = signal;
    if (!thread_start(writer, nullptr, thread_default_stack + sizeof(queued_line) * batch_lines * 2)) waiting = nullptr;
}

void output_line(const char* format, ...)
{
    queued_line line;
    va_list values;
    va_start(values, format);
    const int n = std::vsnprintf(line.text, line_room - 1, format, values);
    va_end(values);
    if (n < 0) return;
    line.length = n < line_room - 2 ? n : line_room - 2;
    if (line.length == 0 || line.text[line.length - 1] != '\n') line.text[line.length++] = '\n';

    if (waiting == nullptr) {
        console_write_output(line.text, static_cast<std::size_t>(line.length));
        return;
    }
    thread_lock_take(guard);
    const bool queued = count < queue_lines;
    // The writer empties the queue before it waits again: only the line
    // that finds it empty needs to wake it.
    const bool wake = queued && count == 0;
    if (queued) {
        queue[(first + count) % queue_lines] = line;
        ++count;
    } else {
        ++dropped;
    }
    thread_lock_release(guard);
    if (wake) thread_signal_raise(waiting);
}
