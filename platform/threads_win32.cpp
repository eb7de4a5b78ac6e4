#include "thread_park.h"

#include <windows.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>
#include <process.h>

namespace {

struct start_record {
    thread_entry entry;
    void* argument;
    unsigned stack;
};

void __cdecl run(void* raw)
{
    const start_record record = *static_cast<start_record*>(raw);
    delete static_cast<start_record*>(raw);
    record.entry(record.argument);
}

bool create(void(__cdecl* body)(void*), thread_entry entry, void* argument, unsigned stack_bytes, int* error)
{
    auto* record = new (std::nothrow) start_record{entry, argument, stack_bytes};
    if (record == nullptr) {
        if (error != nullptr) *error = ENOMEM;
        return false;
    }
    if (_beginthread(body, stack_bytes, record) == static_cast<uintptr_t>(-1)) {
        if (error != nullptr) *error = errno;
        delete record;
        return false;
    }
    return true;
}

void __cdecl serve_and_park(void* raw)
{
    const start_record first = *static_cast<start_record*>(raw);
    delete static_cast<start_record*>(raw);
    thread_serve_and_park(first.entry, first.argument, first.stack);
}

CRITICAL_SECTION park_lock;
// Made ready before main runs, while no thread can park yet.
const bool park_lock_ready = [] {
    InitializeCriticalSection(&park_lock);
    return true;
}();

} // namespace

// An auto-reset event: a raise that comes as a wait runs out stays set and
// only makes the next wait look once more.
struct park_wake {
    HANDLE event;
};

struct thread_lock {
    CRITICAL_SECTION section;
};

thread_lock* thread_lock_create()
{
    auto* lock = new (std::nothrow) thread_lock;
    if (lock != nullptr) InitializeCriticalSection(&lock->section);
    return lock;
}

void thread_lock_take(thread_lock* lock) { EnterCriticalSection(&lock->section); }

void thread_lock_release(thread_lock* lock) { LeaveCriticalSection(&lock->section); }

void park_lock_enter() { EnterCriticalSection(&park_lock); }

void park_lock_leave() { LeaveCriticalSection(&park_lock); }

park_wake* park_wake_create()
{
    auto* wake = new (std::nothrow) park_wake;
    if (wake == nullptr) return nullptr;
    wake->event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (wake->event == nullptr) {
        delete wake;
        return nullptr;
    }
    return wake;
}

void park_wake_destroy(park_wake* wake)
{
    CloseHandle(wake->event);
    delete wake;
}

void park_wake_raise(park_wake* wake) { SetEvent(wake->event); }

void park_wake_wait(park_wake* wake, unsigned milliseconds)
{
    LeaveCriticalSection(&park_lock);
    WaitForSingleObject(wake->event, milliseconds);
    EnterCriticalSection(&park_lock);
}

std::size_t thread_stack_granted(unsigned stack_bytes) { return stack_bytes; }

bool thread_start_parking(thread_entry entry, void* argument, unsigned stack_bytes, int* error)
{
    return create(serve_and_park, entry, argument, stack_bytes, error);
}

bool thread_start(thread_entry entry, void* argument, unsigned stack_bytes, int* error)
{
    return create(run, entry, argument, stack_bytes, error);
}

struct thread_signal {
    HANDLE semaphore;
};

thread_signal* thread_signal_create()
{
    auto* signal = new (std::nothrow) thread_signal;
    if (signal == nullptr) return nullptr;
    signal->semaphore = CreateSemaphoreA(nullptr, 0, LONG_MAX, nullptr);
    if (signal->semaphore == nullptr) {
        delete signal;
        return nullptr;
    }
    return signal;
}

void thread_signal_raise(thread_signal* signal)
{
    // At the semaphore's greatest count the waiter has wakings enough.
    ReleaseSemaphore(signal->semaphore, 1, nullptr);
}

void thread_signal_wait(thread_signal* signal) { WaitForSingleObject(signal->semaphore, INFINITE); }

bool thread_signal_wait_for(thread_signal* signal, unsigned milliseconds)
{
    return WaitForSingleObject(signal->semaphore, milliseconds) == WAIT_OBJECT_0;
}
