#include "mesh/radix_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace
{

// Entries (key << 32 | original position).
std::vector<uint64_t> entriesOf(const std::vector<uint32_t>& keys)
{
    std::vector<uint64_t> items;
    for (size_t i = 0; i < keys.size(); ++i)
    {
        items.push_back(uint64_t(keys[i]) << 32 | uint64_t(i));
    }
    return items;
}

// The entries in the order of a stable comparison sort of their keys alone.
std::vector<uint64_t> stablySorted(std::vector<uint64_t> items)
{
    std::stable_sort(items.begin(), items.end(),
                     [](uint64_t a, uint64_t b) { return (a >> 32) < (b >> 32); });
    return items;
}

// The radix sort and a stable comparison sort of the keys must agree entry for entry (equal keys
// keep list order).
void expectStableOrder(const std::vector<uint32_t>& keys, int bits = 32)
{
    std::vector<uint64_t> items = entriesOf(keys);
    const std::vector<uint64_t> expected = stablySorted(items);
    std::vector<uint64_t> scratch;
    radixSortByUpperKey(items, scratch, bits);
    ASSERT_EQ(items, expected);
}

std::vector<uint32_t> randomKeys(size_t count, uint32_t low, uint32_t high, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<uint32_t> pick(low, high);
    std::vector<uint32_t> keys(count);
    for (uint32_t& key : keys)
    {
        key = pick(random);
    }
    return keys;
}

TEST(RadixSortTest, SmallListsSortStablyByKey)
{
    expectStableOrder({});
    expectStableOrder({7});
    expectStableOrder({3, 1, 3, 0, 1, 3});
    expectStableOrder(randomKeys(5000, 0, UINT32_MAX, 1));
    expectStableOrder(randomKeys(5000, 0, 40, 2));
    expectStableOrder(randomKeys(5000, 0, (1u << 20) - 1, 3), 20);
}

// Lists large enough to be distributed by their leading digit first: keys over the whole range,
// in a narrow band far from zero (the digits come from the actual range), with many duplicates,
// all equal, and bunched in a few far-apart clusters (buckets of very different sizes).
TEST(RadixSortTest, LargeListsSortStablyWhateverTheKeyRange)
{
    const size_t n = 200000;
    expectStableOrder(randomKeys(n, 0, UINT32_MAX, 4));
    expectStableOrder(randomKeys(n, 0x80000000u, 0x80000000u + 5000, 5));
    expectStableOrder(randomKeys(n, 0xfffff000u, UINT32_MAX, 6));
    expectStableOrder(randomKeys(n, 100, 107, 7));
    expectStableOrder(std::vector<uint32_t>(n, 12345));
    std::vector<uint32_t> clusters = randomKeys(n, 0, 3, 8);
    for (size_t i = 0; i < n; ++i)
    {
        clusters[i] = clusters[i] * 0x40000000u + uint32_t(i % 97);
    }
    expectStableOrder(clusters);
    expectStableOrder(randomKeys(n, 0, (1u << 24) - 1, 9), 24);
}

// The prefix sort against a stable comparison sort: the first `needed` entries agree entry for
// entry, and the rest are the remaining entries in some order. The key range handed over may be
// wider than the keys' actual one.
void expectStablePrefix(const std::vector<uint32_t>& keys, size_t needed, uint64_t low,
                        uint64_t high)
{
    std::vector<uint64_t> items = entriesOf(keys);
    std::vector<uint64_t> expected = stablySorted(items);
    std::vector<uint64_t> scratch;
    radixSortPrefixByUpperKey(items, scratch, needed, low, high);
    ASSERT_EQ(items.size(), expected.size());
    const size_t sorted = std::min(needed, items.size());
    ASSERT_TRUE(std::equal(items.begin(), items.begin() + ptrdiff_t(sorted), expected.begin()));
    std::sort(items.begin() + ptrdiff_t(sorted), items.end());
    std::sort(expected.begin() + ptrdiff_t(sorted), expected.end());
    ASSERT_EQ(items, expected);
}

TEST(RadixSortTest, PrefixSortOrdersTheLeadingEntriesAndKeepsTheRest)
{
    const std::vector<uint32_t> large = randomKeys(150000, 0x80000000u, 0x80100000u, 10);
    for (const size_t needed : {size_t(1), size_t(777), size_t(120000), size_t(150000)})
    {
        expectStablePrefix(large, needed, 0x80000000u, 0x80100000u);
    }
    // A wider range than the keys use, and duplicates straddling the cut.
    expectStablePrefix(randomKeys(100000, 500, 600, 11), 50000, 0, UINT32_MAX);
    const std::vector<uint32_t> small = randomKeys(3000, 0, 1000, 12);
    expectStablePrefix(small, 10, 0, 1000);
    expectStablePrefix(small, 3000, 0, 4000);
    expectStablePrefix(std::vector<uint32_t>(70000, 9), 100, 9, 9);
}

} // namespace
