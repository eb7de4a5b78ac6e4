#include "thread_park.h"

#include <cerrno>
#include <climits>
#include <ctime>
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
    std::size_t stack; // what the thread was created with
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

// Starts `body(entry, argument)` on a new detached thread with a stack of at
// least `stack_bytes`; the thread owns the record it is handed.
bool create(void* (*body)(void*), thread_entry entry, void* argument, unsigned stack_bytes, int* error)
{
    pthread_attr_t attributes;
    int result = pthread_attr_init(&attributes);
    if (result != 0) {
        if (error != nullptr) *error = result;
        return false;
    }
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    std::size_t size = stack_size_for(stack_bytes);
    auto* record = new (std::nothrow) start_record{entry, argument, size};
    if (record == nullptr) {
        pthread_attr_destroy(&attributes);
        if (error != nullptr) *error = ENOMEM;
        return false;
    }
    pthread_t thread;
    result = pthread_attr_setstacksize(&attributes, size);
    if (result == 0) result = pthread_create(&thread, &attributes, body, record);
    if (result == EINVAL) {
        // The system's thread-local storage may need more than the minimum.
        record->stack = size * 4;
        pthread_attr_setstacksize(&attributes, record->stack);
        result = pthread_create(&thread, &attributes, body, record);
    }
    pthread_attr_destroy(&attributes);
    if (result != 0) {
        delete record;
        if (error != nullptr) *error = result;
    }
    return result == 0;
}

void* serve_and_park(void* raw)
{
    const start_record first = *static_cast<start_record*>(raw);
    delete static_cast<start_record*>(raw);
    thread_serve_and_park(first.entry, first.argument, first.stack);
    return nullptr;
}

pthread_mutex_t park_lock = PTHREAD_MUTEX_INITIALIZER;

} // namespace

namespace {

// `milliseconds` from now on the monotonic clock, which no clock setting
// moves.
timespec monotonic_deadline(unsigned milliseconds)
{
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<std::time_t>(milliseconds / 1000);
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    return deadline;
}

} // namespace

struct park_wake {
    pthread_cond_t condition;
};

struct thread_lock {
    pthread_mutex_t mutex;
};

thread_lock* thread_lock_create()
{
    auto* lock = new (std::nothrow) thread_lock;
    if (lock == nullptr) return nullptr;
    if (pthread_mutex_init(&lock->mutex, nullptr) != 0) {
        delete lock;
        return nullptr;
    }
    return lock;
}

void thread_lock_take(thread_lock* lock) { pthread_mutex_lock(&lock->mutex); }

void thread_lock_release(thread_lock* lock) { pthread_mutex_unlock(&lock->mutex); }

void park_lock_enter() { pthread_mutex_lock(&park_lock); }

void park_lock_leave() { pthread_mutex_unlock(&park_lock); }

park_wake* park_wake_create()
{
    auto* wake = new (std::nothrow) park_wake;
    if (wake == nullptr) return nullptr;
    pthread_condattr_t clock;
    pthread_condattr_init(&clock);
    // The wait is measured on the monotonic clock, which no clock setting moves.
    pthread_condattr_setclock(&clock, CLOCK_MONOTONIC);
    const int result = pthread_cond_init(&wake->condition, &clock);
    pthread_condattr_destroy(&clock);
    if (result != 0) {
        delete wake;
        return nullptr;
    }
    return wake;
}

void park_wake_destroy(park_wake* wake)
{
    pthread_cond_destroy(&wake->condition);
    delete wake;
}

void park_wake_raise(park_wake* wake) { pthread_cond_signal(&wake->condition); }

void park_wake_wait(park_wake* wake, unsigned milliseconds)
{
    const timespec deadline = monotonic_deadline(milliseconds);
    pthread_cond_timedwait(&wake->condition, &park_lock, &deadline);
}

std::size_t thread_stack_granted(unsigned stack_bytes) { return stack_size_for(stack_bytes); }

bool thread_start_parking(thread_entry entry, void* argument, unsigned stack_bytes, int* error)
{
    return create(serve_and_park, entry, argument, stack_bytes, error);
}

bool thread_start(thread_entry entry, void* argument, unsigned stack_bytes, int* error)
{
    return create(run, entry, argument, stack_bytes, error);
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

bool thread_signal_wait_for(thread_signal* signal, unsigned milliseconds)
{
    const timespec deadline = monotonic_deadline(milliseconds);
    for (;;) {
        if (::sem_clockwait(&signal->semaphore, CLOCK_MONOTONIC, &deadline) == 0) return true;
        if (errno != EINTR) return false;
    }
}
