#include "output_lines.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "clock.h"
#include "console.h"
#include "threads.h"

namespace {

// Once woken, a writer lets texts gather this long before it writes them:
// a busy listener then costs one waking and a few writes every so often
// instead of a waking, two thread switches and a write per line. At tens
// of thousands of lines a second that is a few hundred lines, well within
// the queue.
constexpr unsigned gather_ms = 2;

// One output channel: a bounded queue of texts of at most `room` bytes,
// and the writer thread that drains it into its stream. Standard output
// and standard error each have their own, so that a stream nobody reads
// holds up only its own texts.
template <int room, int slots>
struct channel {
    static constexpr int text_room = room;
    struct text {
        char bytes[room];
        int length;
    };
    // Guarded by `guard`, which is made with `waiting` before the listeners
    // start.
    thread_lock* guard = nullptr;
    text queue[slots] = {};
    int first = 0;
    int count = 0;
    bool writing = false; // texts taken from the queue are being written
    unsigned long dropped = 0;
    unsigned long dropped_since_start = 0;
    thread_signal* waiting = nullptr; // set once, before the listeners start
    void (*write)(const char* bytes, std::size_t length);
    const char* dropped_format; // "%lu" texts were dropped
};

void write_error(const char* bytes, std::size_t length)
{
    char text[2048 + 1];
    if (length >= sizeof text) length = sizeof text - 1;
    std::memcpy(text, bytes, length);
    text[length] = '\0';
    console_write_error(text);
}

// Standard output: the "Executing server thread" lines and those of
// --log-clients (up to some 130 characters), 80 KiB in all, about as much as
// a pipe holds. Standard error: boxes and the start report, fewer
// and longer (a box may show a path of some 270 characters, the report one
// and the state of every service).
using output_channel = channel<160, 512>;
using error_channel = channel<1024, 64>;
// The longest text for standard error, queued in pieces of 1 KiB: the start
// report of every listener that failed on many addresses.
constexpr std::size_t error_text_most = 8 * 1024;
output_channel output{.write = console_write_output,
                      .dropped_format = "(%lu lines of output were dropped: standard output was not read)\n"};
error_channel errors{.write = write_error,
                     .dropped_format = "(%lu messages were dropped: standard error was not read)\n"};

// What the writer takes at once, joined into one write, on its own stack.
template <typename C>
constexpr int batch_of = 2048 / C::text_room;

template <typename C>
void writer(void* raw)
{
    C& c = *static_cast<C*>(raw);
    constexpr int batch = batch_of<C>;
    char joined[batch * C::text_room];
    for (;;) {
        thread_signal_wait(c.waiting);
        clock_sleep_ms(gather_ms);
        for (;;) {
            std::size_t length = 0;
            thread_lock_take(c.guard);
            int taken = 0;
            while (taken < batch && c.count > 0) {
                const auto& t = c.queue[c.first];
                std::memcpy(joined + length, t.bytes, static_cast<std::size_t>(t.length));
                length += static_cast<std::size_t>(t.length);
                c.first = (c.first + 1) % static_cast<int>(std::size(c.queue));
                --c.count;
                ++taken;
            }
            // The count goes out after the texts that were queued before the
            // drops began, where the gap is.
            const unsigned long lost = c.count == 0 ? c.dropped : 0;
            if (c.count == 0) c.dropped = 0;
            c.writing = taken > 0 || lost > 0;
            thread_lock_release(c.guard);
            if (taken == 0 && lost == 0) break;
            if (length > 0) c.write(joined, length);
            if (lost > 0) {
                char text[128];
                const int n = std::snprintf(text, sizeof text, c.dropped_format, lost);
                if (n > 0) c.write(text, static_cast<std::size_t>(n));
            }
            thread_lock_take(c.guard);
            c.writing = false;
            thread_lock_release(c.guard);
        }
    }
}

template <typename C>
void start(C& c)
{
    if (c.waiting != nullptr) return;
    thread_signal* signal = thread_signal_create();
    if (signal == nullptr) return;
    if (c.guard == nullptr) c.guard = thread_lock_create();
    if (c.guard == nullptr) return;
    c.waiting = signal;
    if (!thread_start(writer<C>, &c, thread_default_stack + 2048 * 2)) c.waiting = nullptr;
}

// Queues the text, in pieces of the channel's room where it is longer, or
// writes it at once where no writer runs; never waits for the stream. A
// text goes in whole or not at all, its pieces one after the other.
template <typename C>
void put(C& c, const char* bytes, int length)
{
    if (c.waiting == nullptr) {
        c.write(bytes, static_cast<std::size_t>(length));
        return;
    }
    const int pieces = length > 0 ? (length + C::text_room - 1) / C::text_room : 1;
    thread_lock_take(c.guard);
    const int slots = static_cast<int>(std::size(c.queue));
    const bool queued = c.count + pieces <= slots;
    // The writer empties the queue before it waits again: only the text
    // that finds it empty needs to wake it.
    const bool wake = queued && c.count == 0;
    if (queued) {
        for (int at = 0; at < length || at == 0; at += C::text_room) {
            auto& t = c.queue[(c.first + c.count) % slots];
            t.length = length - at < C::text_room ? length - at : C::text_room;
            std::memcpy(t.bytes, bytes + at, static_cast<std::size_t>(t.length));
            ++c.count;
        }
    } else {
        ++c.dropped;
        ++c.dropped_since_start;
    }
    thread_lock_release(c.guard);
    if (wake) thread_signal_raise(c.waiting);
}

template <typename C>
bool drained(C& c)
{
    if (c.waiting == nullptr) return true;
    thread_lock_take(c.guard);
    const bool empty = c.count == 0 && !c.writing;
    thread_lock_release(c.guard);
    return empty;
}

} // namespace

void output_lines_drain(unsigned limit_ms)
{
    constexpr unsigned poll_ms = 5;
    for (unsigned waited = 0; waited < limit_ms && !(drained(output) && drained(errors)); waited += poll_ms)
        clock_sleep_ms(poll_ms);
}

void output_lines_start()
{
    start(output);
    start(errors);
}

void output_line(const char* format, ...)
{
    output_channel::text line;
    constexpr int room = static_cast<int>(sizeof line.bytes);
    va_list values;
    va_start(values, format);
    const int n = std::vsnprintf(line.bytes, room - 1, format, values);
    va_end(values);
    if (n < 0) return;
    line.length = n < room - 2 ? n : room - 2;
    if (line.length == 0 || line.bytes[line.length - 1] != '\n') line.bytes[line.length++] = '\n';
    put(output, line.bytes, line.length);
}

void output_error(const char* text)
{
    std::size_t length = std::strlen(text);
    if (length > error_text_most) length = error_text_most;
    put(errors, text, static_cast<int>(length));
}

unsigned long output_lines_dropped()
{
    if (output.guard == nullptr) return 0;
    thread_lock_take(output.guard);
    const unsigned long dropped = output.dropped_since_start;
    thread_lock_release(output.guard);
    return dropped;
}
