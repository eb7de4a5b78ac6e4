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

// A thread waiting for its next entry, on the waiting thread's own stack;
// every field but `wake` (an auto-reset event) is guarded by park_lock.
struct parked_thread {
    HANDLE wake;
    unsigned stack;
    thread_entry entry; // the next entry; nullptr until one is handed over
    void* argument;
    parked_thread* older;
    parked_thread* newer;
};

CRITICAL_SECTION park_lock;
// Made ready before main runs, while no thread can park yet.
const bool park_lock_ready = [] {
    InitializeCriticalSection(&park_lock);
    return true;
}();
// The most recently parked thread first: the one most likely still in the
// caches; those at the far end are the ones that time out.
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
    EnterCriticalSection(&park_lock);
    if (parked_count >= thread_park_limit) {
        LeaveCriticalSection(&park_lock);
        return false;
    }
    self->entry = nullptr;
    self->older = newest;
    self->newer = nullptr;
    if (newest != nullptr) newest->newer = self;
    newest = self;
    ++parked_count;
    LeaveCriticalSection(&park_lock);
    const DWORD started = GetTickCount();
    for (;;) {
        // Unsigned differences stay right across the tick count's wrap.
        const DWORD waited = GetTickCount() - started;
        const DWORD left = waited < thread_park_ms ? thread_park_ms - waited : 0;
        const DWORD woke = WaitForSingleObject(self->wake, left);
        EnterCriticalSection(&park_lock);
        // An entry handed over just as the wait ran out is still run; its
        // event stays raised and only makes the next wait look once more.
        if (self->entry != nullptr) {
            LeaveCriticalSection(&park_lock);
            return true;
        }
        if (woke != WAIT_OBJECT_0) {
            unlink_parked(self);
            LeaveCriticalSection(&park_lock);
            return false;
        }
        LeaveCriticalSection(&park_lock);
    }
}

void __cdecl serve(void* raw)
{
    const start_record first = *static_cast<start_record*>(raw);
    delete static_cast<start_record*>(raw);
    parked_thread self{};
    self.stack = first.stack;
    self.wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    self.entry = first.entry;
    self.argument = first.argument;
    self.entry(self.argument);
    // Without an event the thread cannot be woken: it ends as a plain one.
    if (self.wake == nullptr) return;
    while (park(&self)) self.entry(self.argument);
    CloseHandle(self.wake);
}

} // namespace

bool thread_start(thread_entry entry, void* argument, unsigned stack_bytes, int* error)
{
    return create(run, entry, argument, stack_bytes, error);
}

bool thread_run(thread_entry entry, void* argument, unsigned stack_bytes, int* error)
{
    EnterCriticalSection(&park_lock);
    parked_thread* p = newest;
    while (p != nullptr && p->stack < stack_bytes) p = p->older;
    if (p != nullptr) {
        unlink_parked(p);
        p->entry = entry;
        p->argument = argument;
        // Raised under the lock: once it is released, the woken thread may
        // run the entry, park again or end, and `p` may be gone.
        SetEvent(p->wake);
    }
    LeaveCriticalSection(&park_lock);
    return p != nullptr || create(serve, entry, argument, stack_bytes, error);
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
