#include "memory_blocks.h"

#include <sys/mman.h>

// Mapped, not from the heap: a freed block in the middle of the heap stays
// resident until every block above it is freed too.
unsigned char* memory_block_take(std::size_t bytes)
{
    void* block = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : static_cast<unsigned char*>(block);
}

void memory_block_give(unsigned char* block, std::size_t bytes)
{
    if (block != nullptr) ::munmap(block, bytes);
}
