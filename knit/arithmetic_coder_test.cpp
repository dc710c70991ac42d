#include "knit/arithmetic_coder.h"

#include "knit/entropy_test_support.h"

#include <gtest/gtest.h>

#include <random>

namespace knit
{
namespace
{

TEST(ArithmeticCoder, divisionByTotalMatchesIntegerDivision)
{
    // Every tabled total against the numerators the coders form (range times a cumulative, up
    // to 0x10000 * 0x4000) and the edges of each quotient; totals past the table divide.
    std::mt19937 random(7);
    for (uint32_t total = 1; total < kReciprocalTotals + 3; ++total)
    {
        const uint32_t numerators[] = {0, 1, total - 1, total, total + 1, 0xFFFFu * total,
                                       0x10000u * total - 1, 0x40000000u, 0xFFFFFFFFu,
                                       static_cast<uint32_t>(random()), 0x10000u * (total - 1)};
        for (uint32_t n : numerators)
        {
            ASSERT_EQ(divideByTotal(n, total), n / total) << n << " / " << total;
        }
    }
}

TEST(ArithmeticCoder, binarySymbolsFromTheStartAreTheBitsThemselves)
{
    // From low 0, high 0xFFFF each uniform(2) symbol settles one bit; the end writes low's 16
    // zero bits; bytes fill least significant bit first.
    auto bytes = encodeToBytes(
        [](ArithmeticEncoderT& e)
        {
            for (uint32_t b : {1u, 0u, 1u, 1u})
            {
                e.encodeUniform(b, 2);
            }
        });
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0x0D, 0x00, 0x00}));
}

TEST(ArithmeticCoder, pendingBitFollowsTheFirstBitOfLowAsItsComplement)
{
    // Symbol 1 of 3: low 0x5555, high 0xAAA9 straddle the middle, so one pending step leaves
    // low 0x2AAA. The end writes 0, then the pending bit 1, then low's other 15 bits.
    auto bytes = encodeToBytes([](ArithmeticEncoderT& e) { e.encodeUniform(1, 3); });
    EXPECT_EQ(streamBits(bytes, 17), "01010101010101010");
    EXPECT_EQ(bytes, (std::vector<uint8_t>{0xAA, 0xAA, 0x00}));

    MemoryInputStreamT in(bytes.data(), bytes.size());
    BitSourceT source(in);
    ArithmeticDecoderT decoder(source);
    decoder.start();
    EXPECT_EQ(decoder.decodeUniform(3), 1u);
    EXPECT_FALSE(decoder.failed());
}

TEST(ArithmeticCoder, roundTripsMixedModelsAndNeedsNoBitsPastTheEnd)
{
    std::mt19937 random(7);
    std::vector<std::pair<uint32_t, uint32_t>> symbols; // (symbol, n)
    for (int i = 0; i < 20000; ++i)
    {
        uint32_t n = 1 + random() % 5000;
        symbols.emplace_back(random() % n, n);
    }
    auto bytes = encodeToBytes(
        [&](ArithmeticEncoderT& e)
        {
            for (auto [s, n] : symbols)
            {
                e.encodeUniform(s, n);
            }
            for (uint32_t s : {0u, 1u, 2u, 2u, 0u})
            {
                EscapeLengthModelT::encode(e, s);
            }
        });
    MemoryInputStreamT in(bytes.data(), bytes.size());
    BitSourceT source(in);
    ArithmeticDecoderT decoder(source);
    decoder.start();
    for (auto [s, n] : symbols)
    {
        ASSERT_EQ(decoder.decodeUniform(n), s);
    }
    for (uint32_t s : {0u, 1u, 2u, 2u, 0u})
    {
        EXPECT_EQ(EscapeLengthModelT::decode(decoder), s);
    }
    EXPECT_EQ(source.bitsPastEnd(), 0u);
    EXPECT_FALSE(decoder.failed());
}

TEST(ArithmeticCoder, decoderFailsOnlyAfterMoreThan32BitsPastTheEnd)
{
    std::vector<uint8_t> bytes = {0x12, 0x34};
    MemoryInputStreamT in(bytes.data(), bytes.size());
    BitSourceT source(in);
    ArithmeticDecoderT decoder(source);
    decoder.start(); // the two bytes
    for (int i = 0; i < 32; ++i)
    {
        decoder.decodeUniform(2);
    }
    EXPECT_FALSE(decoder.failed());
    decoder.decodeUniform(2);
    EXPECT_TRUE(decoder.failed());
}

TEST(ArithmeticCoder, intervalTooNarrowMarksTheEncoderFailed)
{
    MemoryOutputStreamT out;
    BitSinkT sink(out);
    ArithmeticEncoderT encoder(sink);
    encoder.encode(0, 1, 0x8000); // from the full range every count of 0x8000 has room
    EXPECT_FALSE(encoder.failed());
    // Once the range is below 0x8000 some counts of 1 in 0x8000 get an empty interval: the
    // encoder must say so (and not loop) rather than write an undecodable stream.
    std::mt19937 random(1);
    for (uint32_t i = 0; i < 1000 && !encoder.failed(); ++i)
    {
        uint32_t n = 3 + random() % 1000;
        encoder.encodeUniform(random() % n, n);
        encoder.encode(random() % 0x8000, 1, 0x8000);
    }
    EXPECT_TRUE(encoder.failed());
}

// Escapes, ranged values and raw bits from the initial state, spelt out bit by bit: an escape
// length symbol costs bits of the 4/2/1 model, a byte of uniform(256) leaves as 8 bits, most
// significant first.
TEST(EscapeCoding, boundaryValuesChooseTheirLengthClass)
{
    struct CaseT
    {
        uint32_t value;
        uint32_t lengthSymbol;
    };
    for (CaseT c :
         {CaseT{0, 0}, CaseT{15, 0}, CaseT{16, 1}, CaseT{255, 1}, CaseT{256, 2}, CaseT{65535, 2}})
    {
        auto bytes = encodeToBytes([&](ArithmeticEncoderT& e) { encodeEscape(e, c.value); });
        MemoryInputStreamT in(bytes.data(), bytes.size());
        BitSourceT source(in);
        ArithmeticDecoderT decoder(source);
        decoder.start();
        EXPECT_EQ(EscapeLengthModelT::decode(decoder), c.lengthSymbol) << c.value;
        uint32_t rest = c.lengthSymbol == 0 ? decoder.decodeUniform(16)
                        : c.lengthSymbol == 1
                            ? decoder.decodeUniform(256)
                            : decoder.decodeUniform(256) | decoder.decodeUniform(256) << 8;
        EXPECT_EQ(rest, c.value);
        EXPECT_FALSE(decoder.failed());
    }
}

TEST(RangedCoding, rangeOneWritesNothingAndLargeRangesWriteBytesLowFirst)
{
    auto nothing = encodeToBytes([](ArithmeticEncoderT& e) { encodeRanged(e, 0, 1); });
    EXPECT_EQ(nothing, (std::vector<uint8_t>{0x00, 0x00}));

    auto twoBytes = encodeToBytes([](ArithmeticEncoderT& e) { encodeRanged(e, 0x1234, 0x4000); });
    EXPECT_EQ(streamBits(twoBytes, 32), msb(0x34, 8) + msb(0x12, 8) + std::string(16, '0'));

    // Just below the byte form the value is one uniform symbol; above 0xFFFF three bytes.
    for (auto [a, b] :
         {std::pair{0x3FFEu, 0x3FFFu}, std::pair{0x12345u, 0x12346u}, std::pair{7u, 0x7FFFFFFFu}})
    {
        auto bytes = encodeToBytes([&](ArithmeticEncoderT& e) { encodeRanged(e, a, b); });
        MemoryInputStreamT in(bytes.data(), bytes.size());
        BitSourceT source(in);
        ArithmeticDecoderT decoder(source);
        decoder.start();
        EXPECT_EQ(decodeRanged(decoder, b), a);
    }
}

TEST(RawBitsCoding, wholeBytesLowFirstThenTheRemainder)
{
    auto bytes = encodeToBytes([](ArithmeticEncoderT& e) { encodeRawBits(e, 0x5A3C1, 20); });
    EXPECT_EQ(streamBits(bytes, 20), msb(0xC1, 8) + msb(0xA3, 8) + msb(0x5, 4));
    for (int bits : {0, 1, 7, 8, 13, 31, 32})
    {
        uint32_t value = bits == 32 ? 0xDEADBEEF : (0xDEADBEEFu & ((1u << bits) - 1));
        auto coded = encodeToBytes([&](ArithmeticEncoderT& e) { encodeRawBits(e, value, bits); });
        MemoryInputStreamT in(coded.data(), coded.size());
        BitSourceT source(in);
        ArithmeticDecoderT decoder(source);
        decoder.start();
        EXPECT_EQ(decodeRawBits(decoder, bits), value) << bits;
    }
}

TEST(BitStreams, memoryStreamsCrossBufferBoundaries)
{
    MemoryOutputStreamT out;
    for (int i = 0; i < 10000; ++i)
    {
        out.put(static_cast<uint8_t>(i * 7));
    }
    ASSERT_TRUE(out.flush());
    ASSERT_EQ(out.bytes().size(), 10000u);
    MemoryInputStreamT in(out.bytes().data(), out.bytes().size());
    for (int i = 0; i < 10000; ++i)
    {
        ASSERT_EQ(in.get(), static_cast<uint8_t>(i * 7));
    }
    EXPECT_EQ(in.get(), -1);
    EXPECT_EQ(in.get(), -1);
}

} // namespace
} // namespace knit
