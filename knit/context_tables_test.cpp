#include "knit/context_tables.h"

#include "knit/entropy_test_support.h"
#include "knit/knit_codes.h"
#include "knit/knit_log.h"

#include <gtest/gtest.h>

namespace knit
{
namespace
{

// Decodes a table from a bit string (padded with 16 zero bits, as the coder's end would be).
template <class TableT, class ReadT>
int readTableFromBits(const std::string& bits, TableT& table, ReadT read)
{
    std::vector<uint8_t> bytes = packBits(bits + std::string(16, '0'));
    MemoryInputStreamT in(bytes.data(), bytes.size());
    BitSourceT source(in);
    ArithmeticDecoderT decoder(source);
    decoder.start();
    KnitLogCaptureT capture;
    return read(decoder, table);
}

int readDense(const std::string& bits, DenseTableT& table)
{
    return readTableFromBits(bits, table, readDenseTable);
}

int readSparse(const std::string& bits, SparseTableT& table)
{
    return readTableFromBits(bits, table, readSparseTable);
}

TEST(DenseTableSerialisation, writesGapsAndCountsAsLaidOut)
{
    uint64_t counts[16] = {};
    counts[3] = 1;
    counts[4] = 2;
    counts[5] = 300; // largest >= 256: everything is divided by d = 2
    counts[14] = 40;
    DenseTableT coded;
    std::string expected;
    expected += "10"
                "110" +
                lsb(0, 3);             // gap of 3 before symbol 3; count 1
    expected += "0" + lsb(0, 3);       // symbol 4: 2/2 = 1
    expected += "0" + lsb(7, 3) + "0"; // symbol 5: 150 -> 128 (bit below top 0)
    expected += "10"
                "111111"
                "0" +
                lsb(8, 7); // gap of 8 before symbol 14
    expected += lsb(4, 3); // 20 -> 16
    expected += "11";      // end
    auto bytes = encodeToBytes(
        [&](ArithmeticEncoderT& e)
        { EXPECT_EQ(writeDenseTable(&e, counts, coded), static_cast<int>(expected.size())); });
    EXPECT_EQ(streamBits(bytes, expected.size()), expected);
    EXPECT_EQ(coded.count(3), 1u);
    EXPECT_EQ(coded.count(4), 1u);
    EXPECT_EQ(coded.count(5), 128u);
    EXPECT_EQ(coded.count(14), 16u);
    EXPECT_EQ(coded.total(), 146u);

    DenseTableT read;
    ASSERT_EQ(readDense(expected, read), kOk);
    for (int s = 0; s < 16; ++s)
    {
        EXPECT_EQ(read.count(s), coded.count(s)) << s;
    }
}

TEST(DenseTableSerialisation, countsTravelAsPowersOfTwoOrOneAndAHalfFrom32Up)
{
    uint64_t counts[16] = {};
    counts[0] = 31;  // -> 16
    counts[1] = 48;  // -> 48 (32 + 16)
    counts[2] = 40;  // -> 32
    counts[3] = 255; // -> 192
    counts[4] = 96;  // -> 96
    DenseTableT coded;
    int bits = writeDenseTable(nullptr, counts, coded);
    EXPECT_EQ(bits, 5 * 4 + 4 + 2); // four count bits each, an extra bit for the four >= 32
    EXPECT_EQ(coded.count(0), 16u);
    EXPECT_EQ(coded.count(1), 48u);
    EXPECT_EQ(coded.count(2), 32u);
    EXPECT_EQ(coded.count(3), 192u);
    EXPECT_EQ(coded.count(4), 96u);

    uint64_t none[16] = {};
    EXPECT_EQ(writeDenseTable(nullptr, none, coded), 2); // just 1, 1
    EXPECT_TRUE(coded.empty());
}

TEST(DenseTableSerialisation, readerRejectsSymbolsAbove15AndHugeGaps)
{
    DenseTableT table;
    // Symbol 15 is the last the table has.
    ASSERT_EQ(readDense("10"
                        "111111"
                        "0" +
                            lsb(15, 7) + lsb(0, 3) + "11",
                        table),
              kOk);
    EXPECT_EQ(table.count(15), 1u);
    EXPECT_EQ(table.total(), 1u);

    EXPECT_EQ(readDense("10"
                        "111111"
                        "0" +
                            lsb(16, 7) + lsb(0, 3) + "11",
                        table),
              kChannelBadFile);
    EXPECT_EQ(readDense("10"
                        "111111"
                        "1" +
                            lsb(0x7FFFFFFF, 31) + lsb(0, 3) + "11",
                        table),
              kChannelBadFile);
    std::string seventeen;
    for (int i = 0; i < 17; ++i)
    {
        seventeen += "0" + lsb(0, 3);
    }
    EXPECT_EQ(readDense(seventeen + "11", table), kChannelBadFile);
    // Nothing but zero bits (a truncated stream) also runs past symbol 15.
    EXPECT_EQ(readDense("", table), kChannelBadFile);
}

TEST(SparseTableSerialisation, writesSlotsGapsAndCountClassesAsLaidOut)
{
    uint64_t counts[15] = {};
    counts[0] = 3;
    counts[2] = 20;
    counts[3] = 300;
    counts[9] = 10000;
    std::string expected = lsb(4, 4);
    expected += "0"
                "0" +
                lsb(3, 4); // symbol 0, count < 16
    expected += "10"
                "0"
                "10" +
                lsb(20, 8); // gap 1, count < 256
    expected += "0"
                "110" +
                lsb(300, 13); // gap 0, count < 8192
    expected += "11"
                "0" +
                lsb(5, 7);              // gap 5 (long form)
    expected += "111" + lsb(10000, 31); // count >= 8192
    SparseTableT coded;
    auto bytes = encodeToBytes(
        [&](ArithmeticEncoderT& e)
        { EXPECT_EQ(writeSparseTable(&e, counts, coded), static_cast<int>(expected.size())); });
    EXPECT_EQ(streamBits(bytes, expected.size()), expected);
    EXPECT_EQ(coded.total(), 10323u);

    SparseTableT read;
    ASSERT_EQ(readSparse(expected, read), kOk);
    for (int s = 0; s < 15; ++s)
    {
        EXPECT_EQ(read.count(s), counts[s]) << s;
    }

    uint64_t none[15] = {};
    EXPECT_EQ(
        streamBits(encodeToBytes([&](ArithmeticEncoderT& e) { writeSparseTable(&e, none, coded); }),
                   4),
        "0000");
    EXPECT_TRUE(coded.empty());
    // Gaps of 2 and 3 repeat the pair 1, 0.
    uint64_t spaced[15] = {};
    spaced[2] = 1;
    spaced[6] = 1;
    std::string two = lsb(2, 4) +
                      "10"
                      "10"
                      "0"
                      "0" +
                      lsb(1, 4) +
                      "10"
                      "10"
                      "10"
                      "0"
                      "0" +
                      lsb(1, 4);
    EXPECT_EQ(streamBits(encodeToBytes([&](ArithmeticEncoderT& e)
                                       { writeSparseTable(&e, spaced, coded); }),
                         two.size()),
              two);
}

TEST(SparseTableSerialisation, readerRejectsSymbolsAbove14AndTotalsAbove31Bits)
{
    SparseTableT table;
    std::string count1 = "0" + lsb(1, 4);
    EXPECT_EQ(readSparse(lsb(1, 4) +
                             "11"
                             "0" +
                             lsb(14, 7) + count1,
                         table),
              kOk);
    EXPECT_EQ(table.count(14), 1u);
    EXPECT_EQ(readSparse(lsb(1, 4) +
                             "11"
                             "0" +
                             lsb(15, 7) + count1,
                         table),
              kChannelBadFile);
    EXPECT_EQ(readSparse(lsb(1, 4) +
                             "11"
                             "1" +
                             lsb(0x7FFFFFFF, 31) + count1,
                         table),
              kChannelBadFile);
    std::string pairs = lsb(1, 4);
    for (int i = 0; i < 20; ++i)
    {
        pairs += "10";
    }
    EXPECT_EQ(readSparse(pairs + "0" + count1, table), kChannelBadFile);

    std::string big = "111" + lsb(0x7FFFFFFF, 31);
    EXPECT_EQ(readSparse(lsb(1, 4) + "0" + big, table), kOk);
    EXPECT_EQ(table.total(), 0x7FFFFFFFu);
    EXPECT_EQ(readSparse(lsb(2, 4) + "0" + big + "0" + count1, table), kChannelBadFile);
}

TEST(DenseTable, rescalesWhenTheTotalPasses0x3FFF)
{
    uint32_t counts[16] = {};
    counts[0] = 0x3FEF;
    counts[5] = 15;
    counts[9] = 1;
    DenseTableT table;
    table.setCounts(counts);
    encodeToBytes([&](ArithmeticEncoderT& e) { table.encode(e, 0); });
    EXPECT_EQ(table.count(0), 0x1FF8u);
    EXPECT_EQ(table.count(5), 7u);
    EXPECT_EQ(table.count(9), 1u); // halved to 0, kept at 1
    EXPECT_EQ(table.total(), 0x2000u);
}

TEST(SparseTable, scaledCopyCodesUntilTheExactTotalFallsTo0x3FFE)
{
    uint32_t counts[15] = {};
    counts[0] = 0x3000;
    counts[1] = 0x1001; // exact total 0x4001: scaled by 1 bit to 0x1800 + 0x800
    SparseTableT table;
    table.setCounts(counts);
    auto viaTable = encodeToBytes(
        [&](ArithmeticEncoderT& e)
        {
            for (int i = 0; i < 5; ++i)
            {
                table.encode(e, 1);
            }
        });
    auto expected = encodeToBytes(
        [](ArithmeticEncoderT& e)
        {
            for (int i = 0; i < 3; ++i) // exact totals 0x4001, 0x4000, 0x3FFF: frozen copy
            {
                e.encode(0x1800, 0x800, 0x2000);
            }
            e.encode(0x3000, 0xFFE, 0x3FFE);
            e.encode(0x3000, 0xFFD, 0x3FFD);
        });
    EXPECT_EQ(viaTable, expected);
    EXPECT_EQ(table.count(1), 0x1001u - 5);
    EXPECT_EQ(table.total(), 0x4001u - 5);
}

TEST(SparseTable, countsDownToEmptyAndTheLastSymbolsCostNothing)
{
    uint32_t counts[15] = {};
    counts[4] = 3;
    counts[7] = 1;
    SparseTableT table;
    table.setCounts(counts);
    auto bytes = encodeToBytes(
        [&](ArithmeticEncoderT& e)
        {
            for (int s : {4, 7, 4, 4})
            {
                table.encode(e, s);
            }
        });
    EXPECT_TRUE(table.empty());
    table.setCounts(counts);
    MemoryInputStreamT in(bytes.data(), bytes.size());
    BitSourceT source(in);
    ArithmeticDecoderT decoder(source);
    decoder.start();
    for (int s : {4, 7, 4, 4})
    {
        EXPECT_EQ(table.decode(decoder), s);
    }
    EXPECT_TRUE(table.empty());
}

} // namespace
} // namespace knit
