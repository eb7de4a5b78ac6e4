#include "stream_session.h"

#include "memory_blocks.h"

stream_buffer::~stream_buffer() { memory_block_give(large, stream_portion_large); }

void stream_watch_idle(net_socket s, stream_buffer* buffer)
{
    if (buffer->idle_watched) return;
    // Where the system cannot bound the wait, the session keeps what it took.
    buffer->idle_watched = net_limit_receive_wait(s, stream_idle_ms) == 0;
}

void stream_take_large(net_socket s, stream_buffer* buffer)
{
    stream_watch_idle(s, buffer);
    if (buffer->large != nullptr) return;
    buffer->large = memory_block_take(stream_portion_large);
    if (buffer->large != nullptr) {
        buffer->bytes = buffer->large;
        buffer->size = stream_portion_large;
    }
}

bool stream_went_idle(net_socket s, stream_buffer* buffer)
{
    if (!buffer->idle_watched || net_last_error() != net_error_would_block) return false;
    memory_block_give(buffer->large, stream_portion_large);
    buffer->large = nullptr;
    buffer->bytes = buffer->first;
    buffer->size = stream_portion;
    buffer->filled = false;
    // Should the system refuse, the next wait ends the same way, and the
    // session only gives back again what it holds.
    buffer->idle_watched = net_limit_receive_wait(s, 0) != 0;
    return true;
}

int stream_receive(net_socket s, stream_buffer* buffer)
{
    for (;;) {
        if (buffer->filled) stream_take_large(s, buffer);
        const int received = net_recv(s, buffer->bytes, buffer->size);
        if (received < 0 && stream_went_idle(s, buffer)) continue;
        buffer->filled = received == buffer->size;
        return received;
    }
}
