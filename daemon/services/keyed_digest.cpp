#include "keyed_digest.h"

namespace {

std::uint64_t rotate(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

void round(std::uint64_t v[4])
{
    v[0] += v[1];
    v[1] = rotate(v[1], 13) ^ v[0];
    v[0] = rotate(v[0], 32);
    v[2] += v[3];
    v[3] = rotate(v[3], 16) ^ v[2];
    v[0] += v[3];
    v[3] = rotate(v[3], 21) ^ v[0];
    v[2] += v[1];
    v[1] = rotate(v[1], 17) ^ v[2];
    v[2] = rotate(v[2], 32);
}

void absorb(std::uint64_t v[4], std::uint64_t word)
{
    v[3] ^= word;
    round(v);
    round(v);
    v[0] ^= word;
}

} // namespace

void keyed_digest_start(keyed_digest* d, const std::uint64_t key[2])
{
    d->v[0] = key[0] ^ 0x736f6d6570736575u;
    d->v[1] = key[1] ^ 0x646f72616e646f6du;
    d->v[2] = key[0] ^ 0x6c7967656e657261u;
    d->v[3] = key[1] ^ 0x7465646279746573u;
    d->tail = 0;
    d->tail_count = 0;
    d->total = 0;
}

void keyed_digest_add(keyed_digest* d, const unsigned char* bytes, int count)
{
    for (int i = 0; i < count; ++i) {
        d->tail |= std::uint64_t(bytes[i]) << (8 * d->tail_count);
        if (++d->tail_count == 8) {
            absorb(d->v, d->tail);
            d->tail = 0;
            d->tail_count = 0;
        }
    }
    d->total += static_cast<std::uint64_t>(count);
}

std::uint64_t keyed_digest_end(keyed_digest* d)
{
    absorb(d->v, d->tail | (d->total << 56));
    d->v[2] ^= 0xff;
    for (int i = 0; i < 4; ++i) round(d->v);
    return d->v[0] ^ d->v[1] ^ d->v[2] ^ d->v[3];
}
