#include "random_generator.h"

namespace {

thread_local std::uint32_t thread_seed = 1;

} // namespace

void random_seed(std::uint32_t seed) { thread_seed = seed; }

int random_next() { return random_next(&thread_seed); }

int random_next(std::uint32_t* seed)
{
    *seed = *seed * 1103515245u + 12345u;
    return static_cast<int>((*seed >> 16) & 32767u);
}
