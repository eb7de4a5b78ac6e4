#include "threads.h"

#include <cerrno>
#include <climits>
#include <new>
#include <pthread.h>
#include <unistd.h>

#ifndef VELMORA_THREAD_STACK_FLOOR
#define VELMORA_THREAD_STACK_FLOOR 0
#endif

namespace {

struct start_record {
    thread_entry entry;
    void* argument;
};

void* run(void* raw)
{
    const start_record record = *static_cast<start_record*>(raw);
    delete static_cast<start_record*>(raw);
    record.entry(record.argument);
    return nullptr;
}

std::size_t stack_size_for(unsigned requested)
{
    const std::size_t system_minimum = static_cast<std::size_t>(PTHREAD_STACK_MIN);
    constexpr std::size_t floor = VELMORA_THREAD_STACK_FLOOR;
    std::size_t size = requested;
    if (size < system_minimum) size = system_minimum;
    if (size < floor) size = floor;
    const long page = ::sysconf(_SC_PAGESIZE);
    const std::size_t page_size = page > 0 ? static_cast<std::size_t>(page) : 4096;
    return (size + page_size - 1) / page_size * page_size;
}

} // namespace

bool thread_start(thread_entry entry, void* argument, unsigned stack_bytes)
{
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) return false;
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    std::size_t size = stack_size_for(stack_bytes);
    auto* record = new (std::nothrow) start_record{entry, argument};
    if (record == nullptr) {
        pthread_attr_destroy(&attributes);
        return false;
    }
    pthread_t thread;
    int result = pthread_attr_setstacksize(&attributes, size);
    if (result == 0) result = pthread_create(&thread, &attributes, run, record);
    if (result == EINVAL) {
        // The system's thread-local storage may need more than the minimum.
        pthread_attr_setstacksize(&attributes, size * 4);
        result = pthread_create(&thread, &attributes, run, record);
    }
    pthread_attr_destroy(&attributes);
    if (result != 0) delete record;
    return result == 0;
}
