// Blocks of memory taken from the system for a while and given back whole:
// once given back, a block no longer counts towards the process's resident
// memory, however the other blocks were taken and given back around it.
#pragma once

#include <cstddef>

// A block of `bytes`, or nullptr when the system has no memory for it.
unsigned char* memory_block_take(std::size_t bytes);
// Gives back a block that memory_block_take made, with the same `bytes`;
// nullptr is ignored.
void memory_block_give(unsigned char* block, std::size_t bytes);
