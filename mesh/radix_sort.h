#pragma once

// A stable sort of 64-bit entries by their upper 32 bits, for the large key lists of the simplifier
// and the writers: entries are (key << 32 | payload), the payload usually a position, so sorting
// the entries orders the positions by key and keeps equal keys in list order.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

// Sorts `items` by their upper 32 bits, which must be below 2^bits (1 to 32), least significant
// digit first in as few passes of at most 12 bits as cover `bits`. A digit shared by all entries
// is skipped. `scratch` is working room (resized to the size of `items`).
template <class VectorT> void radixSortByUpperKey(VectorT& items, VectorT& scratch, int bits = 32)
{
    if (bits <= 0 || items.size() < 2)
    {
        return;
    }
    const int passes = (bits + 11) / 12;
    const int digitBits = (bits + passes - 1) / passes;
    const size_t buckets = size_t(1) << digitBits;
    const uint64_t mask = buckets - 1;
    scratch.resize(items.size());
    std::vector<size_t> counts(buckets);
    for (int pass = 0; pass < passes; ++pass)
    {
        const int shift = 32 + pass * digitBits;
        std::fill(counts.begin(), counts.end(), 0);
        for (uint64_t item : items)
        {
            ++counts[(item >> shift) & mask];
        }
        if (counts[(items[0] >> shift) & mask] == items.size())
        {
            continue;
        }
        size_t sum = 0;
        for (size_t& c : counts)
        {
            const size_t here = c;
            c = sum;
            sum += here;
        }
        for (uint64_t item : items)
        {
            scratch[counts[(item >> shift) & mask]++] = item;
        }
        items.swap(scratch);
    }
}
