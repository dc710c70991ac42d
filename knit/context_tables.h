#pragma once

// The adaptive context tables of the connectivity channel and their serialisation. A dense
// table covers the 16 symbols 0-15 and counts up as it codes; a sparse table covers 0-14, starts
// from exact counts and counts down, so that its last symbol costs nothing. Tables are written
// bit by bit through the arithmetic coder as symbols of uniform(2), multi-bit fields least
// significant bit first.

#include "knit/arithmetic_coder.h"

#include <cstdint>

namespace knit
{

// Totals above this are rescaled (dense) or coded through a scaled copy (sparse).
constexpr uint32_t kMaxCodingTotal = 0x3FFF;
// Largest exact count or total a sparse table carries (31 bits).
constexpr uint64_t kMaxSparseTotal = 0x7FFFFFFF;

// Adaptive table over the symbols 0-15: a coded symbol's count goes up by 1, and when the total
// exceeds 0x3FFF every non-zero count is shifted right (a count that becomes 0 is set to 1).
class DenseTableT
{
public:
    static constexpr int kSymbols = 16;

    DenseTableT() { clear(); }

    // Sets the counts (each at most 0xFFFF) and recomputes the cumulatives and the total.
    void setCounts(const uint32_t counts[kSymbols]);
    void clear();

    uint32_t count(int s) const { return cum_[s + 1] - cum_[s]; }
    uint32_t total() const { return cum_[kSymbols]; }
    bool empty() const { return total() == 0; }

    // Codes symbol s (its count must be non-zero) and updates the table.
    void encode(ArithmeticEncoderT& encoder, int s)
    {
        encoder.encode(cum_[s], cum_[s + 1] - cum_[s], cum_[kSymbols]);
        update(s);
    }
    // Decodes a symbol and updates the table. Precondition: !empty().
    int decode(ArithmeticDecoderT& decoder)
    {
        uint32_t t = decoder.target(cum_[kSymbols]);
        int s = find(t);
        decoder.consume(cum_[s], cum_[s + 1] - cum_[s], cum_[kSymbols]);
        update(s);
        return s;
    }
    // The symbol whose interval [cum, cum + count) holds target: the number of cumulatives
    // after the first that are at most target. Precondition: target < total().
    int find(uint32_t target) const { return countAtMost(cum_, target); }

    // Counts i in 1..16 with cum[i] <= target, for cumulatives of 16 symbols (cum[16], the
    // total, is above any target). Sixteen lanes let the compiler use vector compares.
    static int countAtMost(const uint32_t* cum, uint32_t target)
    {
        int s = 0;
        for (int i = 0; i < kSymbols; ++i)
        {
            s += static_cast<int>(cum[i + 1] <= target);
        }
        return s;
    }

private:
    void update(int s)
    {
        // A fixed trip count lets the compiler do this in a few vector operations.
        for (int i = 0; i < kSymbols; ++i)
        {
            cum_[i + 1] += static_cast<uint32_t>(i >= s);
        }
        if (cum_[kSymbols] > kMaxCodingTotal)
        {
            rescale();
        }
    }
    void rescale();

    // cum_[s] = sum of the counts of the symbols below s; cum_[16] = total.
    uint32_t cum_[kSymbols + 1];
};

// Decrementing table over the symbols 0-14. It starts from exact counts; after each coded symbol
// the symbol's exact count and the exact total drop by 1. While the exact total is at least
// 0x4000 coding runs through a scaled copy made at the start (rescaled as a dense table is),
// which stays frozen until the exact total falls to 0x3FFE; from then on the exact counts code.
class SparseTableT
{
public:
    static constexpr int kSymbols = 15;

    SparseTableT() { clear(); }

    // Sets the exact counts. Precondition: their total is at most kMaxSparseTotal.
    void setCounts(const uint32_t counts[kSymbols]);
    void clear();

    uint32_t count(int s) const { return exact_[s]; }
    // The exact total: the number of symbols still to be coded from this table.
    uint32_t total() const { return exactTotal_; }
    bool empty() const { return exactTotal_ == 0; }
    // Number of symbols with a non-zero exact count.
    int slots() const;

    // Codes symbol s (its exact count must be non-zero) and counts it down.
    void encode(ArithmeticEncoderT& encoder, int s)
    {
        encoder.encode(cum_[s], cum_[s + 1] - cum_[s], cum_[kCumSymbols]);
        update(s);
    }
    // Decodes a symbol and counts it down; -1 when the stream names a symbol whose exact count
    // is already 0 (possible only on a bad stream while the scaled copy codes). Precondition:
    // !empty().
    int decode(ArithmeticDecoderT& decoder);

private:
    void update(int s)
    {
        --exact_[s];
        --exactTotal_;
        if (scaled_)
        {
            if (exactTotal_ <= kMaxCodingTotal - 1)
            {
                useExactCounts();
            }
            return;
        }
        for (int i = 0; i < kCumSymbols; ++i)
        {
            cum_[i + 1] -= static_cast<uint32_t>(i >= s);
        }
    }
    void useExactCounts();

    // The cumulatives run over 16 symbols (the 16th always empty), as a dense table's do, so
    // that lookups and updates have a fixed trip count.
    static constexpr int kCumSymbols = 16;

    uint32_t exact_[kSymbols];
    uint32_t exactTotal_;
    bool scaled_;
    // Cumulatives of the counts that code: the scaled copy or the exact counts.
    uint32_t cum_[kCumSymbols + 1];
};

// Writes a dense table for the given counts (step 1 scales counts of 256 or more down by a power
// of two; counts then travel as a power of two, from 32 up possibly one and a half times one)
// and sets `coded` to the counts that both sides code with afterwards. With a null encoder
// nothing is written. Returns the number of bits the table takes.
int writeDenseTable(ArithmeticEncoderT* encoder, const uint64_t counts[DenseTableT::kSymbols],
                    DenseTableT& coded);
// Reads a dense table. Returns kOk, or kChannelBadFile (after printing "bad file\n") for a symbol
// index above 15 or a read past the end of the stream.
int readDenseTable(ArithmeticDecoderT& decoder, DenseTableT& table);

// Writes a sparse table for the given exact counts (each and their total at most
// kMaxSparseTotal) and sets `coded` to them. With a null encoder nothing is written. Returns the
// number of bits the table takes.
int writeSparseTable(ArithmeticEncoderT* encoder, const uint64_t counts[SparseTableT::kSymbols],
                     SparseTableT& coded);
// Reads a sparse table. Returns kOk, or kChannelBadFile (after printing "bad file\n") for a
// symbol above 14, a total above kMaxSparseTotal or a read past the end of the stream.
int readSparseTable(ArithmeticDecoderT& decoder, SparseTableT& table);

} // namespace knit
