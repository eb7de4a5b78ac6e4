#include "stream_session.h"

#include <new>

void stream_take_large(stream_buffer* buffer)
{
    if (buffer->large != nullptr) return;
    buffer->large.reset(new (std::nothrow) unsigned char[stream_portion_large]);
    if (buffer->large != nullptr) {
        buffer->bytes = buffer->large.get();
        buffer->size = stream_portion_large;
    }
}

int stream_receive(net_socket s, stream_buffer* buffer)
{
    if (buffer->filled) stream_take_large(buffer);
    const int received = net_recv(s, buffer->bytes, buffer->size);
    buffer->filled = received == buffer->size;
    return received;
}
