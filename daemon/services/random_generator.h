// The pseudo-random generator that chargen and quote draw from: pure
// arithmetic, one seed per thread.
#pragma once

#include <cstddef>
#include <cstdint>

// The ISO C example generator, on the calling thread's seed.
void random_seed(std::uint32_t seed);
int random_next(); // 0 to 32767
// The same generator on an explicit seed, for callers that keep their own.
int random_next(std::uint32_t* seed);
