#include "threads.h"

#include <cerrno>
#include <climits>
#include <new>
#include <pthread.h>
#include <semaphore.h>
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

bool thread_start(thread_entry entry, void* argument, unsigned stack_bytes, int* error)
{
    pthread_attr_t attributes;
    int result = pthread_attr_init(&attributes);
    if (result != 0) {
        if (error != nullptr) *error = result;
        return false;
    }
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    std::size_t size = stack_size_for(stack_bytes);
    auto* record = new (std::nothrow) start_record{entry, argument};
    if (record == nullptr) {
        pthread_attr_destroy(&attributes);
        if (error != nullptr) *error = ENOMEM;
        return false;
    }
    pthread_t thread;
    result = pthread_attr_setstacksize(&attributes, size);
    if (result == 0) result = pthread_create(&thread, &attributes, run, record);
    if (result == EINVAL) {
        // The system's thread-local storage may need more than the minimum.
        pthread_attr_setstacksize(&attributes, size * 4);
        result = pthread_create(&thread, &attributes, run, record);
    }
    pthread_attr_destroy(&attributes);
    if (result != 0) {
        delete record;
        if (error != nullptr) *error = result;
    }
    return result == 0;
}

struct thread_signal {
    sem_t semaphore;
};

thread_signal* thread_signal_create()
{
    auto* signal = new (std::nothrow) thread_signal;
    if (signal != nullptr && ::sem_init(&signal->semaphore, 0, 0) != 0) {
        delete signal;
        return nullptr;
    }
    return signal;
}

void thread_signal_raise(thread_signal* signal)
{
    // At the semaphore's greatest count the waiter has wakings enough.
    ::sem_post(&signal->semaphore);
}

void thread_signal_wait(thread_signal* signal)
{
    while (::sem_wait(&signal->semaphore) != 0 && errno == EINTR) {
    }
}
