#pragma once
// Feeds a fuzzer's bytes to a stream decoder the way a link delivers them:
// in pieces of varying size, mostly small, sometimes the largest a link
// hands over at once, rarely longer. Each piece is a buffer of its own so the
// sanitizer sees any read past its end.

#include "ZoTypes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// feed(const tdu1 *bytes, int count) is called once per piece.
template <typename Feed> void zoFuzzFeedInChunks(const uint8_t *data, size_t size, tdu4 seed, Feed feed)
{
    while (size > 0) {
        seed = seed * 1103515245u + 12345u;
        size_t chunk = 1 + (seed >> 16) % ((seed & 3) == 0 ? 300 : 64);
        if (chunk > size)
            chunk = size;
        const std::vector<tdu1> piece(data, data + chunk);
        feed(piece.data(), int(piece.size()));
        data += chunk;
        size -= chunk;
    }
}
