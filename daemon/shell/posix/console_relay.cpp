#include "console_relay.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "console.h"
#include "threads.h"

namespace {

constexpr int stream_count = 2; // standard output, standard error
constexpr int stream_fds[stream_count] = {STDOUT_FILENO, STDERR_FILENO};
constexpr std::size_t held_limit = 1 << 20;
constexpr int stop_wait_ms = 1000;

struct held_chunk {
    int stream;
    std::string bytes;
};

struct relay_state {
    bool running = false;
    int pipe_read[stream_count] = {-1, -1};
    int original[stream_count] = {-1, -1};
    int finished_read = -1; // the relay thread closes the other end when it ends
    int finished_write = -1;
    std::mutex lock;
    // Guarded by lock:
    bool holding = false;
    std::vector<held_chunk> held;
    std::size_t held_bytes = 0;
    int held_lines = 0;
    int dropped_lines = 0;
    std::string last_error_line;
};

relay_state relay;

int count_lines(const char* data, std::size_t size)
{
    int lines = 0;
    for (std::size_t i = 0; i < size; ++i) lines += data[i] == '\n';
    return lines;
}

// A box is one write of "caption: text\n", the text perhaps of several
// lines: the first line of the latest chunk of standard error names it.
void note_error_text(const char* data, std::size_t size)
{
    const std::size_t end = std::string_view(data, size).find('\n');
    if (end != 0) relay.last_error_line.assign(data, end == std::string_view::npos ? size : end);
}

void hold_chunk(int stream, const char* data, std::size_t size)
{
    if (relay.held_bytes + size > held_limit) {
        relay.dropped_lines += count_lines(data, size);
        return;
    }
    if (relay.held.empty() || relay.held.back().stream != stream) relay.held.push_back({stream, std::string()});
    relay.held.back().bytes.append(data, size);
    relay.held_bytes += size;
    relay.held_lines += count_lines(data, size);
    if (stream == 1) note_error_text(data, size);
}

void pass_on(int stream, const char* data, std::size_t size)
{
    const std::lock_guard<std::mutex> guard(relay.lock);
    if (relay.holding)
        hold_chunk(stream, data, size);
    else
        console_write_descriptor(relay.original[stream], data, size);
}

void write_held()
{
    for (const held_chunk& chunk : relay.held) console_write_descriptor(relay.original[chunk.stream], chunk.bytes.data(), chunk.bytes.size());
    if (relay.dropped_lines > 0) {
        char note[120];
        const int n = std::snprintf(note, sizeof note,
                                    "Velmora V1.0: %d lines of output were dropped while the control dialog was open\n",
                                    relay.dropped_lines);
        console_write_descriptor(relay.original[1], note, static_cast<std::size_t>(n));
    }
    relay.held.clear();
    relay.held_bytes = 0;
    relay.held_lines = 0;
    relay.dropped_lines = 0;
    relay.last_error_line.clear();
}

void relay_thread(void*)
{
    pollfd watched[stream_count];
    for (int s = 0; s < stream_count; ++s) watched[s] = {relay.pipe_read[s], POLLIN, 0};
    int open_streams = stream_count;
    char buffer[4096];
    while (open_streams > 0) {
        if (::poll(watched, stream_count, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int s = 0; s < stream_count; ++s) {
            if (watched[s].fd < 0 || watched[s].revents == 0) continue;
            const ssize_t n = ::read(watched[s].fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n > 0) {
                pass_on(s, buffer, static_cast<std::size_t>(n));
                continue;
            }
            ::close(watched[s].fd);
            watched[s].fd = -1;
            --open_streams;
        }
    }
    ::close(relay.finished_write);
}

void undo_start(int pipe_write[stream_count])
{
    for (int s = 0; s < stream_count; ++s) {
        if (relay.original[s] >= 0) ::dup2(relay.original[s], stream_fds[s]);
        for (int* fd : {&relay.pipe_read[s], &pipe_write[s], &relay.original[s]}) {
            if (*fd >= 0) ::close(*fd);
            *fd = -1;
        }
    }
    for (int* fd : {&relay.finished_read, &relay.finished_write}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

} // namespace

bool relay_start()
{
    if (relay.running) return true;
    int pipe_write[stream_count] = {-1, -1};
    int finished[2];
    bool ready = ::pipe2(finished, O_CLOEXEC) == 0;
    if (ready) {
        relay.finished_read = finished[0];
        relay.finished_write = finished[1];
    }
    for (int s = 0; s < stream_count && ready; ++s) {
        int ends[2];
        relay.original[s] = ::fcntl(stream_fds[s], F_DUPFD_CLOEXEC, 3);
        ready = relay.original[s] >= 0 && ::pipe2(ends, O_CLOEXEC) == 0;
        if (!ready) break;
        relay.pipe_read[s] = ends[0];
        pipe_write[s] = ends[1];
    }
    // Both pipes in place before either descriptor is switched over.
    for (int s = 0; s < stream_count && ready; ++s) ready = ::dup2(pipe_write[s], stream_fds[s]) >= 0;
    if (ready) ready = thread_start(relay_thread, nullptr, thread_default_stack);
    if (!ready) {
        undo_start(pipe_write);
        return false;
    }
    for (int s = 0; s < stream_count; ++s) ::close(pipe_write[s]);
    relay.running = true;
    return true;
}

void relay_hold()
{
    const std::lock_guard<std::mutex> guard(relay.lock);
    relay.holding = true;
}

void relay_release()
{
    const std::lock_guard<std::mutex> guard(relay.lock);
    write_held();
    relay.holding = false;
}

int relay_held_lines()
{
    const std::lock_guard<std::mutex> guard(relay.lock);
    return relay.held_lines + relay.dropped_lines;
}

std::string relay_last_held_box()
{
    const std::lock_guard<std::mutex> guard(relay.lock);
    return relay.last_error_line;
}

void relay_write(int fd, const char* text, std::size_t size)
{
    const std::lock_guard<std::mutex> guard(relay.lock);
    console_write_descriptor(fd, text, size);
}

void relay_stop()
{
    if (!relay.running) return;
    relay_release();
    std::fflush(stdout);
    // Once no descriptor refers to the pipes' writing ends any more, the
    // relay thread reads the rest, reaches their ends and finishes.
    for (int s = 0; s < stream_count; ++s) ::dup2(relay.original[s], stream_fds[s]);
    pollfd finished{relay.finished_read, POLLIN, 0};
    int ready;
    while ((ready = ::poll(&finished, 1, stop_wait_ms)) < 0 && errno == EINTR) {
    }
    // A relay thread that has not finished may still write to the saved
    // descriptors; they are close-on-exec and go with the process.
    if (ready > 0)
        for (int s = 0; s < stream_count; ++s) ::close(relay.original[s]);
    ::close(relay.finished_read);
    relay.running = false;
}
