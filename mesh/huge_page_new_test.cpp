// The programs' allocation functions: every form of new returns memory aligned as asked, large
// blocks start on a huge page boundary, failures surface as the standard says, and blocks of both
// sizes can be released and reused through the standard containers.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace
{

constexpr size_t kHuge = size_t(2) << 20;

bool alignedTo(const void* p, size_t alignment)
{
    return reinterpret_cast<uintptr_t>(p) % alignment == 0;
}

struct alignas(64) LineT
{
    unsigned char bytes[64];
};

struct alignas(4096) PageT
{
    unsigned char bytes[4096];
};

TEST(HugePageNew, largeBlocksStartOnHugePageBoundaries)
{
    for (size_t bytes : {kHuge, kHuge + 1, 3 * kHuge + 17})
    {
        void* p = ::operator new(bytes);
        EXPECT_TRUE(alignedTo(p, kHuge)) << bytes;
        static_cast<unsigned char*>(p)[bytes - 1] = 1; // the whole block is usable
        ::operator delete(p);
        unsigned char* a = new unsigned char[bytes];
        EXPECT_TRUE(alignedTo(a, kHuge)) << bytes;
        a[bytes - 1] = 1;
        delete[] a;
    }
    std::vector<double> v(kHuge);
    EXPECT_TRUE(alignedTo(v.data(), kHuge));
}

TEST(HugePageNew, overAlignedTypesKeepTheirAlignmentAtEverySize)
{
    for (size_t count : {size_t(1), size_t(3), size_t(100), kHuge / 64 + 5})
    {
        std::unique_ptr<LineT[]> lines(new LineT[count]);
        EXPECT_TRUE(alignedTo(lines.get(), 64)) << count;
        lines[count - 1].bytes[63] = 1;
    }
    // An alignment above the huge page size is honoured too, and a size that is no multiple of
    // the alignment still works.
    void* p = ::operator new(kHuge + 1, std::align_val_t(kHuge * 2));
    EXPECT_TRUE(alignedTo(p, kHuge * 2));
    ::operator delete(p, std::align_val_t(kHuge * 2));
    std::unique_ptr<PageT> page(new PageT);
    EXPECT_TRUE(alignedTo(page.get(), 4096));
    void* odd = ::operator new(100, std::align_val_t(256));
    EXPECT_TRUE(alignedTo(odd, 256));
    ::operator delete(odd, 100, std::align_val_t(256));
}

TEST(HugePageNew, zeroBytesAndFailuresFollowTheStandard)
{
    void* a = ::operator new(0);
    void* b = ::operator new(0);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(a, b);
    ::operator delete(a);
    ::operator delete(b);
    // Larger than any address space; volatile so that the compiler does not refuse the calls.
    volatile size_t huge = size_t(-1) - 4096;
    const size_t impossible = huge;
    EXPECT_THROW(static_cast<void>(::operator new(impossible)), std::bad_alloc);
    EXPECT_EQ(::operator new(impossible, std::nothrow), nullptr);
    EXPECT_EQ(::operator new[](impossible, std::nothrow), nullptr);
    EXPECT_THROW(static_cast<void>(::operator new(impossible, std::align_val_t(64))),
                 std::bad_alloc);
}

TEST(HugePageNew, containersGrowAcrossTheThresholdAndBack)
{
    std::string text;
    std::vector<int32_t> numbers;
    for (int round = 0; round < 3; ++round)
    {
        for (int i = 0; i < 2000000; ++i)
        {
            numbers.push_back(i);
            text += char('a' + i % 26);
        }
        EXPECT_EQ(numbers[1234567 + size_t(round) * 2000000], 1234567);
        EXPECT_EQ(text[27], 'b');
        numbers.shrink_to_fit();
    }
    numbers.clear();
    numbers.shrink_to_fit();
    text.clear();
    text.shrink_to_fit();
    EXPECT_TRUE(numbers.empty());
}

} // namespace
