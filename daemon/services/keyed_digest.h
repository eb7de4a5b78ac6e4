// SipHash-2-4: a 64-bit digest under a 128-bit secret key. Without the key
// a peer cannot find two inputs whose digests meet, nor steer a digest
// into a chosen slot of a table.
#pragma once

#include <cstdint>

struct keyed_digest {
    std::uint64_t v[4];
    std::uint64_t tail; // the bytes of an unfinished word, lowest first
    int tail_count;
    std::uint64_t total;
};

void keyed_digest_start(keyed_digest* d, const std::uint64_t key[2]);
void keyed_digest_add(keyed_digest* d, const unsigned char* bytes, int count);
std::uint64_t keyed_digest_end(keyed_digest* d);
