#include "threads.h"

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
};

void __cdecl run(void* raw)
{
    const start_record record = *static_cast<start_record*>(raw);
    delete static_cast<start_record*>(raw);
    record.entry(record.argument);
}

} // namespace

bool thread_start(thread_entry entry, void* argument, unsigned stack_bytes, int* error)
{
    auto* record = new (std::nothrow) start_record{entry, argument};
    if (record == nullptr) {
        if (error != nullptr) *error = ENOMEM;
        return false;
    }
    if (_beginthread(run, stack_bytes, record) == static_cast<uintptr_t>(-1)) {
        if (error != nullptr) *error = errno;
        delete record;
        return false;
    }
    return true;
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
