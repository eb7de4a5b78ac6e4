#include "thread_park.h"

#include "clock.h"

namespace {

// A thread waiting for its next entry. It lives on the waiting thread's own
// stack; every field is guarded by the park lock.
struct parked_thread {
    park_wake* wake;
    std::size_t stack;
    thread_entry entry; // the next entry; nullptr until one is handed over
    void* argument;
    parked_thread* older;
    parked_thread* newer;
};

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
    park_lock_enter();
    if (parked_count >= thread_park_limit) {
        park_lock_leave();
        return false;
    }
    self->entry = nullptr;
    self->older = newest;
    self->newer = nullptr;
    if (newest != nullptr) newest->newer = self;
    newest = self;
    ++parked_count;
    const std::uint32_t started = clock_tick_count();
    while (self->entry == nullptr) {
        // Unsigned differences stay right across the tick count's wrap.
        const std::uint32_t waited = clock_tick_count() - started;
        if (waited >= thread_park_ms) {
            unlink_parked(self);
            park_lock_leave();
            return false;
        }
        park_wake_wait(self->wake, thread_park_ms - waited);
    }
    park_lock_leave();
    return true;
}

} // namespace

void thread_serve_and_park(thread_entry entry, void* argument, std::size_t stack)
{
    parked_thread self{};
    self.stack = stack;
    self.wake = park_wake_create();
    self.entry = entry;
    self.argument = argument;
    self.entry(self.argument);
    // Without a wake the thread cannot be handed work: it ends as a plain one.
    if (self.wake == nullptr) return;
    while (park(&self)) self.entry(self.argument);
    park_wake_destroy(self.wake);
}

bool thread_run(thread_entry entry, void* argument, unsigned stack_bytes, int* error)
{
    const std::size_t size = thread_stack_granted(stack_bytes);
    park_lock_enter();
    parked_thread* p = newest;
    while (p != nullptr && p->stack < size) p = p->older;
    if (p != nullptr) {
        unlink_parked(p);
        p->entry = entry;
        p->argument = argument;
        // Raised under the lock: once it is released, the woken thread may
        // run the entry, park again or end, and `p` may be gone.
        park_wake_raise(p->wake);
    }
    park_lock_leave();
    return p != nullptr || thread_start_parking(entry, argument, stack_bytes, error);
}
