#include "threads.h"

#include <process.h>
#include <new>

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

bool thread_start(thread_entry entry, void* argument, unsigned stack_bytes)
{
    auto* record = new (std::nothrow) start_record{entry, argument};
    if (record == nullptr) return false;
    if (_beginthread(run, stack_bytes, record) == static_cast<uintptr_t>(-1)) {
        delete record;
        return false;
    }
    return true;
}
