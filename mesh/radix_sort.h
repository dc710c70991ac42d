#pragma once

// A stable sort of 64-bit entries by their upper 32 bits, for the large key lists of the simplifier
// and the writers: entries are (key << 32 | payload), the payload usually a position, so sorting
// the entries orders the positions by key and keeps equal keys in list order.

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace radix_detail
{

// Digits of at most this many bits: a scatter into more buckets than this stalls on its writes.
constexpr int kDigitBits = 11;
// Lists shorter than this are sorted digit by digit as a whole: they stay cached anyway.
constexpr size_t kSmall = size_t(1) << 16;

// Stable sort of from[0, count) by the low `bits` bits of (key - base), least significant digit
// first, with to[0, count) as working room; the result ends in `from`. A digit shared by all
// entries is skipped.
inline void sortRange(uint64_t* from, uint64_t* to, size_t count, int bits, uint64_t base)
{
    if (count < 2 || bits <= 0)
    {
        return;
    }
    const int passes = (bits + kDigitBits - 1) / kDigitBits;
    const int digitBits = (bits + passes - 1) / passes;
    const size_t buckets = size_t(1) << digitBits;
    const uint64_t mask = buckets - 1;
    std::array<size_t, size_t(1) << kDigitBits> counts;
    uint64_t* source = from;
    uint64_t* target = to;
    for (int pass = 0; pass < passes; ++pass)
    {
        const int shift = pass * digitBits;
        auto digit = [&](uint64_t item) { return size_t(((item >> 32) - base) >> shift & mask); };
        std::fill(counts.begin(), counts.begin() + ptrdiff_t(buckets), 0);
        for (size_t i = 0; i < count; ++i)
        {
            ++counts[digit(source[i])];
        }
        if (counts[digit(source[0])] == count)
        {
            continue;
        }
        size_t sum = 0;
        for (size_t b = 0; b < buckets; ++b)
        {
            const size_t here = counts[b];
            counts[b] = sum;
            sum += here;
        }
        for (size_t i = 0; i < count; ++i)
        {
            const uint64_t item = source[i];
            target[counts[digit(item)]++] = item;
        }
        std::swap(source, target);
    }
    if (source != from)
    {
        std::copy(source, source + count, from);
    }
}

} // namespace radix_detail

// Sorts the first `needed` entries of `items` into place: afterwards they are the `needed`
// entries of smallest key, in key order with equal keys in list order, and the other entries
// follow in no set order. Every key must lie in [low, high]; a caller that produces the entries
// knows the range and spares a pass over the list. `scratch` is working room (resized to the size
// of `items`). A large list is first distributed by the leading digit of the key range into at
// most 2^11 buckets, and each bucket that reaches into the first `needed` entries, small enough
// to stay cached, is then sorted by the remaining digits least significant first: one pass over
// the whole list in memory instead of one per digit.
template <class VectorT>
void radixSortPrefixByUpperKey(VectorT& items, VectorT& scratch, size_t needed, uint64_t low,
                               uint64_t high)
{
    using radix_detail::kDigitBits;
    using radix_detail::kSmall;
    const size_t count = items.size();
    if (count < 2 || needed == 0 || high <= low)
    {
        return;
    }
    scratch.resize(count);
    if (count < kSmall)
    {
        radix_detail::sortRange(items.data(), scratch.data(), count,
                                int(std::bit_width(high - low)), low);
        return;
    }
    // (key - low) >> rest is the leading digit; the buckets sort by the `rest` bits below it.
    int rest = 0;
    while (((high - low) >> rest) >= (uint64_t(1) << kDigitBits))
    {
        ++rest;
    }
    const size_t buckets = size_t((high - low) >> rest) + 1;
    auto bucketOf = [&](uint64_t item) { return size_t(((item >> 32) - low) >> rest); };
    std::vector<size_t> starts(buckets + 1, 0);
    for (const uint64_t item : items)
    {
        ++starts[bucketOf(item) + 1];
    }
    for (size_t b = 1; b <= buckets; ++b)
    {
        starts[b] += starts[b - 1];
    }
    std::vector<size_t> next(starts.begin(), starts.end() - 1);
    for (const uint64_t item : items)
    {
        scratch[next[bucketOf(item)]++] = item;
    }
    for (size_t b = 0; b < buckets && starts[b] < needed; ++b)
    {
        radix_detail::sortRange(scratch.data() + starts[b], items.data() + starts[b],
                                starts[b + 1] - starts[b], rest, low);
    }
    items.swap(scratch);
}

// Sorts `items` by their upper 32 bits, which must be below 2^bits (1 to 32); equal keys keep
// list order. `scratch` is working room (resized to the size of `items`).
template <class VectorT> void radixSortByUpperKey(VectorT& items, VectorT& scratch, int bits = 32)
{
    if (bits <= 0 || items.size() < 2)
    {
        return;
    }
    if (items.size() < radix_detail::kSmall)
    {
        scratch.resize(items.size());
        radix_detail::sortRange(items.data(), scratch.data(), items.size(), bits, 0);
        return;
    }
    uint64_t low = items[0] >> 32;
    uint64_t high = low;
    for (const uint64_t item : items)
    {
        const uint64_t key = item >> 32;
        low = std::min(low, key);
        high = std::max(high, key);
    }
    radixSortPrefixByUpperKey(items, scratch, items.size(), low, high);
}
