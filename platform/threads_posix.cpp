#include "threads.h"

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

// A thread waiting for its next entry. It lives on the waiting thread's own
// stack; every field but `wake` is guarded by park_lock.
struct parked_thread {
    pthread_cond_t wake;
    std::size_t stack;
    thread_entry entry; // the next entry; nullptr until one is handed over
    void* argument;
    parked_thread* older;
    parked_thread* newer;
};

pthread_mutex_t park_lock = PTHREAD_MUTEX_INITIALIZER;
// The most recently parked thread first: it is the one most likely still in
// the caches, and the ones at the far end are those that time out.
parked_thread* newest = nullptr;
int parked_count = 0;

void unlink_parked(parked_thread* p)
{
    if (p->newer != nullptr) p->newer->older = p->older;
    else newest = p->older;
    if (p->older != nullptr) p->older->newer = p->newer;
    --parked_count;
}

// Parks the calling thread until an entry is handed to it (true, with the
// entry in `self`) or until the wait runs out or no room is left (false).
bool park(parked_thread* self)
{
    timespec deadline{};
    ::clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += static_cast<std::time_t>(thread_park_ms / 1000);
    deadline.tv_nsec += static_cast<long>(thread_park_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&park_lock);
    if (parked_count >= thread_park_limit) {
        pthread_mutex_unlock(&park_lock);
        return false;
    }
    self->entry = nullptr;
    self->older = newest;
    self->newer = nullptr;
    if (newest != nullptr) newest->newer = self;
    newest = self;
    ++parked_count;
    while (self->entry == nullptr) {
        if (pthread_cond_timedwait(&self->wake, &park_lock, &deadline) == ETIMEDOUT && self->entry == nullptr) {
            unlink_parked(self);
            pthread_mutex_unlock(&park_lock);
            return false;
        }
    }
    pthread_mutex_unlock(&park_lock);
    return true;
}

void* serve(void* raw)
{
    const start_record first = *static_cast<start_record*>(raw);
    delete static_cast<start_record*>(raw);
    parked_thread self{};
    self.stack = first.stack;
    pthread_condattr_t clock;
    pthread_condattr_init(&clock);
    // The wait is measured on the monotonic clock, which no clock setting moves.
    pthread_condattr_setclock(&clock, CLOCK_MONOTONIC);
    pthread_cond_init(&self.wake, &clock);
    pthread_condattr_destroy(&clock);
    self.entry = first.entry;
    self.argument = first.argument;
    do {
        self.entry(self.argument);
    } while (park(&self));
    pthread_cond_destroy(&self.wake);
    return nullptr;
}

} // namespace

bool thread_start(thread_entry entry, void* argument, unsigned stack_bytes, int* error)
{
    return create(run, entry, argument, stack_bytes, error);
}

bool thread_run(thread_entry entry, void* argument, unsigned stack_bytes, int* error)
{
    const std::size_t size = stack_size_for(stack_bytes);
    pthread_mutex_lock(&park_lock);
    parked_thread* p = newest;
    while (p != nullptr && p->stack < size) p = p->older;
    if (p != nullptr) {
        unlink_parked(p);
        p->entry = entry;
        p->argument = argument;
        // Raised under the lock: once it is released, the woken thread may
        // run the entry, park again or end, and `p` may be gone.
        pthread_cond_signal(&p->wake);
    }
    pthread_mutex_unlock(&park_lock);
    return p != nullptr || create(serve, entry, argument, stack_bytes, error);
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
