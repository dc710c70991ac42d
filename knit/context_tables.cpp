// Dense and sparse context tables: rescaling, counting down, symbol lookup by target count, and
// the bit-by-bit serialisation that the connectivity writer and reader share.

#include "knit/context_tables.h"

#include "knit/knit_codes.h"
#include "knit/knit_log.h"

#include <algorithm>

namespace knit
{
namespace
{

// The smallest shift n >= 1 for which total >> (n - 1) is at most 0x7FFF.
int rescaleShift(uint64_t total)
{
    int n = 1;
    while ((total >> (n - 1)) > 0x7FFF)
    {
        ++n;
    }
    return n;
}

// Bits of a table, as uniform(2) symbols through the encoder; only counted without one.
class TableBitWriterT
{
public:
    explicit TableBitWriterT(ArithmeticEncoderT* encoder)
        : encoder_(encoder)
    {
    }
    void bit(uint32_t b)
    {
        if (encoder_ != nullptr)
        {
            encoder_->encodeUniform(b & 1, 2);
        }
        ++bits_;
    }
    void field(uint64_t value, int width)
    {
        for (int i = 0; i < width; ++i)
        {
            bit(static_cast<uint32_t>((value >> i) & 1));
        }
    }
    int bits() const { return bits_; }

private:
    ArithmeticEncoderT* encoder_;
    int bits_ = 0;
};

class TableBitReaderT
{
public:
    explicit TableBitReaderT(ArithmeticDecoderT& decoder)
        : decoder_(decoder)
    {
    }
    uint32_t bit() { return decoder_.decodeUniform(2); }
    uint32_t field(int width)
    {
        uint32_t value = 0;
        for (int i = 0; i < width; ++i)
        {
            value |= bit() << i;
        }
        return value;
    }

private:
    ArithmeticDecoderT& decoder_;
};

int badTable()
{
    knitErr("bad file\n");
    return kChannelBadFile;
}

int bitLength(uint64_t v)
{
    int n = 0;
    for (; v != 0; v >>= 1)
    {
        ++n;
    }
    return n;
}

} // namespace

void DenseTableT::clear()
{
    std::fill(cum_, cum_ + kSymbols + 1, 0u);
}

void DenseTableT::setCounts(const uint32_t counts[kSymbols])
{
    cum_[0] = 0;
    for (int s = 0; s < kSymbols; ++s)
    {
        cum_[s + 1] = cum_[s] + counts[s];
    }
}

void DenseTableT::rescale()
{
    int shift = rescaleShift(total());
    uint32_t counts[kSymbols];
    for (int s = 0; s < kSymbols; ++s)
    {
        uint32_t c = count(s);
        counts[s] = c == 0 ? 0 : std::max(1u, c >> shift);
    }
    setCounts(counts);
}

void SparseTableT::clear()
{
    std::fill(exact_, exact_ + kSymbols, 0u);
    std::fill(cum_, cum_ + kCumSymbols + 1, 0u);
    exactTotal_ = 0;
    scaled_ = false;
}

void SparseTableT::setCounts(const uint32_t counts[kSymbols])
{
    uint64_t total = 0;
    for (int s = 0; s < kSymbols; ++s)
    {
        exact_[s] = counts[s];
        total += counts[s];
    }
    exactTotal_ = static_cast<uint32_t>(total);
    scaled_ = total > kMaxCodingTotal;
    if (!scaled_)
    {
        useExactCounts();
        return;
    }
    int shift = rescaleShift(total);
    cum_[0] = 0;
    for (int s = 0; s < kSymbols; ++s)
    {
        uint32_t c = exact_[s] == 0 ? 0 : std::max(1u, exact_[s] >> shift);
        cum_[s + 1] = cum_[s] + c;
    }
    cum_[kCumSymbols] = cum_[kSymbols];
}

void SparseTableT::useExactCounts()
{
    scaled_ = false;
    cum_[0] = 0;
    for (int s = 0; s < kSymbols; ++s)
    {
        cum_[s + 1] = cum_[s] + exact_[s];
    }
    cum_[kCumSymbols] = cum_[kSymbols];
}

int SparseTableT::slots() const
{
    return static_cast<int>(std::count_if(exact_, exact_ + kSymbols, [](uint32_t c) { return c; }));
}

int SparseTableT::decode(ArithmeticDecoderT& decoder)
{
    uint32_t t = decoder.target(cum_[kCumSymbols]);
    int s = DenseTableT::countAtMost(cum_, t);
    decoder.consume(cum_[s], cum_[s + 1] - cum_[s], cum_[kCumSymbols]);
    if (exact_[s] == 0)
    {
        return -1;
    }
    update(s);
    return s;
}

int writeDenseTable(ArithmeticEncoderT* encoder, const uint64_t counts[DenseTableT::kSymbols],
                    DenseTableT& coded)
{
    uint64_t largest = *std::max_element(counts, counts + DenseTableT::kSymbols);
    uint64_t d = 1;
    if (largest >= 256)
    {
        while (largest / d > 255)
        {
            d <<= 1;
        }
    }
    TableBitWriterT out(encoder);
    uint32_t carried[DenseTableT::kSymbols] = {};
    int previous = -1;
    for (int s = 0; s < DenseTableT::kSymbols; ++s)
    {
        if (counts[s] == 0)
        {
            continue;
        }
        int gap = s - previous - 1;
        if (gap == 0)
        {
            out.bit(0);
        }
        else
        {
            out.bit(1);
            out.bit(0);
            if (gap < 7)
            {
                out.field((1u << (gap - 1)) - 1, gap - 1);
                out.bit(0);
            }
            else
            {
                out.field(0x3F, 6);
                out.bit(gap >= 128);
                out.field(static_cast<uint32_t>(gap), gap >= 128 ? 31 : 7);
            }
        }
        uint64_t reduced = counts[s] < d ? 1 : counts[s] / d;
        int lengthLess1 = bitLength(reduced) - 1;
        out.field(static_cast<uint32_t>(lengthLess1), 3);
        carried[s] = 1u << lengthLess1;
        if (lengthLess1 >= 5)
        {
            uint32_t half = static_cast<uint32_t>((reduced >> (lengthLess1 - 1)) & 1);
            out.bit(half);
            carried[s] += half << (lengthLess1 - 1);
        }
        previous = s;
    }
    out.bit(1);
    out.bit(1);
    coded.setCounts(carried);
    return out.bits();
}

int readDenseTable(ArithmeticDecoderT& decoder, DenseTableT& table)
{
    TableBitReaderT in(decoder);
    uint32_t counts[DenseTableT::kSymbols] = {};
    int64_t previous = -1;
    for (;;)
    {
        int64_t s = previous + 1;
        if (in.bit() != 0)
        {
            if (in.bit() != 0)
            {
                break;
            }
            int ones = 0;
            while (ones < 6 && in.bit() != 0)
            {
                ++ones;
            }
            int64_t gap = ones + 1;
            if (ones == 6)
            {
                gap = in.bit() != 0 ? in.field(31) : in.field(7);
            }
            s = previous + 1 + gap;
        }
        if (s >= DenseTableT::kSymbols || decoder.failed())
        {
            return badTable();
        }
        uint32_t lengthLess1 = in.field(3);
        uint32_t c = 1u << lengthLess1;
        if (lengthLess1 >= 5 && in.bit() != 0)
        {
            c += 1u << (lengthLess1 - 1);
        }
        counts[s] = c;
        previous = s;
    }
    if (decoder.failed())
    {
        return badTable();
    }
    table.setCounts(counts);
    return kOk;
}

int writeSparseTable(ArithmeticEncoderT* encoder, const uint64_t counts[SparseTableT::kSymbols],
                     SparseTableT& coded)
{
    TableBitWriterT out(encoder);
    uint32_t exact[SparseTableT::kSymbols] = {};
    int slots = 0;
    for (int s = 0; s < SparseTableT::kSymbols; ++s)
    {
        slots += counts[s] != 0;
    }
    out.field(static_cast<uint32_t>(slots), 4);
    int previous = -1;
    for (int s = 0; s < SparseTableT::kSymbols; ++s)
    {
        uint64_t c = counts[s];
        if (c == 0)
        {
            continue;
        }
        int gap = s - previous - 1;
        if (gap == 0)
        {
            out.bit(0);
        }
        else if (gap <= 3)
        {
            for (int i = 0; i < gap; ++i)
            {
                out.bit(1);
                out.bit(0);
            }
            out.bit(0);
        }
        else
        {
            out.bit(1);
            out.bit(1);
            out.bit(gap >= 128);
            out.field(static_cast<uint32_t>(gap), gap >= 128 ? 31 : 7);
        }
        if (c < 16)
        {
            out.bit(0);
            out.field(c, 4);
        }
        else if (c < 256)
        {
            out.field(0x1, 2);
            out.field(c, 8);
        }
        else if (c < 8192)
        {
            out.field(0x3, 3);
            out.field(c, 13);
        }
        else
        {
            out.field(0x7, 3);
            out.field(c, 31);
        }
        exact[s] = static_cast<uint32_t>(c);
        previous = s;
    }
    coded.setCounts(exact);
    return out.bits();
}

int readSparseTable(ArithmeticDecoderT& decoder, SparseTableT& table)
{
    TableBitReaderT in(decoder);
    uint32_t counts[SparseTableT::kSymbols] = {};
    uint64_t total = 0;
    uint32_t slots = in.field(4);
    int64_t previous = -1;
    for (uint32_t i = 0; i < slots; ++i)
    {
        int64_t gap = 0;
        while (in.bit() != 0)
        {
            if (in.bit() != 0)
            {
                gap = in.bit() != 0 ? in.field(31) : in.field(7);
                break;
            }
            if (++gap >= SparseTableT::kSymbols || decoder.failed())
            {
                return badTable();
            }
        }
        int64_t s = previous + 1 + gap;
        if (s >= SparseTableT::kSymbols || decoder.failed())
        {
            return badTable();
        }
        uint32_t c;
        if (in.bit() == 0)
        {
            c = in.field(4);
        }
        else if (in.bit() == 0)
        {
            c = in.field(8);
        }
        else if (in.bit() == 0)
        {
            c = in.field(13);
        }
        else
        {
            c = in.field(31);
        }
        counts[s] = c;
        total += c;
        previous = s;
    }
    if (total > kMaxSparseTotal || decoder.failed())
    {
        return badTable();
    }
    table.setCounts(counts);
    return kOk;
}

} // namespace knit
