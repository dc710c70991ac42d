#include "knit/connectivity_channel.h"

#include "knit/entropy_test_support.h"
#include "knit/knit_codes.h"
#include "knit/knit_log.h"

#include <gtest/gtest.h>

#include <random>
#include <tuple>

namespace knit
{
namespace
{

// One channel operation with its expected value.
struct OpT
{
    enum KindT
    {
        kVertex,
        kFace,
        kHole,
        kSplitRing,
        kResidual,
        kRaw,
    } kind;
    int value = 0; // valence (-1 = split), hole valence, residual, ring, raw value
    int context = 0;
    int range = 0;  // ring count, raw bit count
    int value2 = 0; // offset
    int range2 = 0; // offsets
};

struct StreamT
{
    std::vector<uint8_t> bytes;
    int result = 0;
    std::string out;
    std::string err;
};

StreamT writeOps(const std::vector<OpT>& ops, int faceTables, int vertexTables, int geometryBits)
{
    StreamT stream;
    KnitLogCaptureT capture;
    MemoryOutputStreamT out;
    BitSinkT sink(out);
    ArithmeticEncoderT encoder(sink);
    ConnectivityWriterT writer(encoder, faceTables, vertexTables, geometryBits);
    for (const OpT& op : ops)
    {
        int r = kOk;
        switch (op.kind)
        {
        case OpT::kVertex:
            r = op.value < 0 ? writer.writeVertexSplit(op.context)
                             : writer.writeVertexValence(op.value, op.context);
            break;
        case OpT::kFace:
            r = writer.writeFaceValence(op.value, op.context);
            break;
        case OpT::kHole:
            r = writer.writeHole(op.value, op.context);
            break;
        case OpT::kSplitRing:
            r = writer.writeSplitRing(op.value, op.range, op.value2, op.range2);
            break;
        case OpT::kResidual:
            r = writer.writeResidual(op.value);
            break;
        case OpT::kRaw:
            r = writer.writeRawBits(static_cast<uint32_t>(op.value), op.range);
            break;
        }
        EXPECT_EQ(r, kOk);
    }
    stream.result = writer.finish();
    encoder.finish();
    sink.flush();
    out.flush();
    stream.bytes = out.bytes();
    stream.out = capture.out;
    stream.err = capture.err;
    return stream;
}

// Reads the operations back; returns the first non-kOk code (kOk if all matched), and counts
// mismatched values in `mismatches`.
int readOps(const std::vector<uint8_t>& bytes, const std::vector<OpT>& ops, int faceTables,
            int vertexTables, int geometryBits, int& mismatches)
{
    KnitLogCaptureT capture;
    MemoryInputStreamT in(bytes.data(), bytes.size());
    BitSourceT source(in);
    ArithmeticDecoderT decoder(source);
    decoder.start();
    ConnectivityReaderT reader(decoder, faceTables, vertexTables);
    mismatches = 0;
    int r = reader.readTables();
    if (r == kOk && geometryBits != 0)
    {
        r = reader.readGeometryTable();
    }
    for (size_t i = 0; r == kOk && i < ops.size(); ++i)
    {
        const OpT& op = ops[i];
        int value = 0;
        switch (op.kind)
        {
        case OpT::kVertex:
            r = reader.readVertexValence(op.context, value);
            mismatches += r == kOk && value != op.value;
            break;
        case OpT::kFace:
            r = reader.readFaceValence(op.context, value);
            mismatches += r == kOk && value != op.value;
            break;
        case OpT::kHole:
            r = reader.readFaceValence(op.context, value);
            mismatches += r == kOk && value != -op.value;
            break;
        case OpT::kSplitRing:
        {
            int offset = 0;
            r = reader.readSplitRing(op.range, value, op.range2, offset);
            mismatches += r == kOk && (value != op.value || offset != op.value2);
            break;
        }
        case OpT::kResidual:
        {
            int32_t residual = 0;
            r = reader.readResidual(residual);
            mismatches += r == kOk && residual != op.value;
            break;
        }
        case OpT::kRaw:
        {
            uint32_t raw = 0;
            r = reader.readRawBits(op.range, raw);
            mismatches += r == kOk && raw != static_cast<uint32_t>(op.value);
            break;
        }
        }
    }
    if (r == kOk)
    {
        int value = 0;
        r = reader.readFaceValence(0, value) == kChannelEndOfFaces ? kOk : kChannelBadFile;
        mismatches += source.bitsPastEnd() != 0;
    }
    return r;
}

// A random operation stream shaped like a traversal's: mostly small valences with a few
// escapes, holes, splits with their rings, residuals; contexts skewed so that some tables stay
// small (merged into the global table) and others grow large.
std::vector<OpT> randomOps(size_t count, int faceTables, int vertexTables, bool geometry,
                           unsigned seed)
{
    std::mt19937 random(seed);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    auto context = [&](int tables)
    {
        // Context 0 takes about half; the last context is rare.
        int c = pick(2) == 0 ? 0 : pick(tables);
        return c == tables - 1 && pick(20) != 0 ? 0 : c;
    };
    std::vector<OpT> ops;
    if (geometry)
    {
        for (int i = 0; i < 6; ++i)
        {
            ops.push_back({OpT::kRaw, static_cast<int>(random()), 0, 32});
        }
    }
    while (ops.size() < count)
    {
        int roll = pick(100);
        if (roll < 45)
        {
            int v = 4 + pick(5);
            int escape = pick(200);
            if (escape == 0)
            {
                v = 15 + pick(300);
            }
            else if (escape == 1)
            {
                v = 2;
            }
            else if (escape == 2)
            {
                v = kMaxVertexValence - pick(3);
            }
            ops.push_back({OpT::kVertex, v, context(vertexTables)});
        }
        else if (roll < 48)
        {
            ops.push_back({OpT::kVertex, -1, context(vertexTables)});
            int rings = 1 + pick(pick(10) == 0 ? 100000 : 30);
            int offsets = 1 + pick(8);
            ops.push_back({OpT::kSplitRing, pick(rings), 0, rings, pick(offsets), offsets});
        }
        else if (roll < 88)
        {
            int v = 3 + pick(3);
            int escape = pick(300);
            if (escape == 0)
            {
                v = 15 + pick(70000 - 15) % (kMaxFaceValence - 14);
            }
            ops.push_back({OpT::kFace, v, context(faceTables)});
        }
        else if (roll < 89)
        {
            int n = pick(3) == 0 ? 1 + pick(kMaxHoleValence) : 3 + pick(40);
            ops.push_back({OpT::kHole, n, context(faceTables)});
        }
        else if (geometry)
        {
            int magnitude = pick(10) == 0 ? pick(1 << 14) : pick(64);
            ops.push_back({OpT::kResidual, pick(2) ? magnitude : -magnitude});
        }
    }
    return ops;
}

class ChannelRoundTrip : public ::testing::TestWithParam<std::tuple<int, int, int>>
{
};

TEST_P(ChannelRoundTrip, readerGivesBackEveryOperation)
{
    auto [faceTables, vertexTables, geometryBits] = GetParam();
    for (size_t count : {size_t{0}, size_t{40}, size_t{3000}, size_t{60000}})
    {
        std::vector<OpT> ops =
            randomOps(count, faceTables, vertexTables, geometryBits != 0, 11 + count);
        StreamT stream = writeOps(ops, faceTables, vertexTables, geometryBits);
        ASSERT_EQ(stream.result, kOk) << count;
        int mismatches = 0;
        EXPECT_EQ(readOps(stream.bytes, ops, faceTables, vertexTables, geometryBits, mismatches),
                  kOk)
            << count;
        EXPECT_EQ(mismatches, 0) << count;
        // Writing the same operations again gives the same bytes.
        EXPECT_EQ(writeOps(ops, faceTables, vertexTables, geometryBits).bytes, stream.bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(TableSettings, ChannelRoundTrip,
                         ::testing::Combine(::testing::Values(1, 2, 8), ::testing::Values(1, 2, 8),
                                            ::testing::Values(0, 12)));

TEST(ConnectivityChannel, truncatedStreamsFailAndCorruptOnesNeverCrash)
{
    for (int tables : {1, 2, 8})
    {
        std::vector<OpT> ops = randomOps(4000, tables, tables, true, 5);
        StreamT stream = writeOps(ops, tables, tables, 12);
        ASSERT_EQ(stream.result, kOk);
        for (size_t cut = 0; cut + 5 <= stream.bytes.size(); cut += 1 + cut / 4)
        {
            std::vector<uint8_t> truncated(stream.bytes.begin(), stream.bytes.begin() + cut);
            // Past the cut the reader sees zero bits: it must fail, or at least not give back
            // the operations (more than 32 bits past the end fail as a bad file).
            int mismatches = 0;
            int r = readOps(truncated, ops, tables, tables, 12, mismatches);
            EXPECT_TRUE(r != kOk || mismatches > 0) << cut;
        }
        std::mt19937 random(3);
        for (int trial = 0; trial < 50; ++trial)
        {
            std::vector<uint8_t> corrupt = stream.bytes;
            for (int flips = 0; flips < 3; ++flips)
            {
                corrupt[random() % corrupt.size()] ^= static_cast<uint8_t>(1 + random() % 255);
            }
            int mismatches = 0;
            readOps(corrupt, ops, tables, tables, 12, mismatches);
        }
    }
}

TEST(ConnectivityChannel, tableOf49IsMergedAndTableOf50StaysLocal)
{
    std::vector<OpT> ops;
    for (int i = 0; i < 49; ++i)
    {
        ops.push_back({OpT::kVertex, 5 + i % 3, 0});
    }
    for (int i = 0; i < 50; ++i)
    {
        ops.push_back({OpT::kVertex, 6 + i % 2, 1});
    }
    ops.push_back({OpT::kFace, 3, 0});
    for (int vertexTables : {2, 8})
    {
        StreamT stream = writeOps(ops, 1, vertexTables, 0);
        ASSERT_EQ(stream.result, kOk);
        std::string vertexStats = stream.out.substr(0, stream.out.find("Global vertices"));
        EXPECT_EQ(vertexStats.find("Table 0:"), std::string::npos) << vertexStats;
        EXPECT_NE(vertexStats.find("Table 1: "), std::string::npos) << vertexStats;
        std::string global = vertexTables == 8 ? "Table 8: entropy" : "Global table: size";
        EXPECT_NE(vertexStats.find(global), std::string::npos) << vertexStats;
        int mismatches = 0;
        EXPECT_EQ(readOps(stream.bytes, ops, 1, vertexTables, 0, mismatches), kOk);
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(ConnectivityChannel, statisticsAndDumpsHaveTheirExactTexts)
{
    std::vector<OpT> ops = {
        {OpT::kVertex, 3, 0}, {OpT::kVertex, -1, 0}, {OpT::kVertex, 3, 0}, {OpT::kVertex, 4, 0},
        {OpT::kFace, 3, 0},   {OpT::kFace, 3, 0},    {OpT::kHole, 5, 0},
    };
    StreamT stream = writeOps(ops, 1, 1, 0);
    ASSERT_EQ(stream.result, kOk);
    // Global vertex table {0: 1, 3: 2, 4: 1}: 4 + (1 + 5) + (5 + 5) + (1 + 5) = 26 bits,
    // entropy 2 + 2 + 2. Global face table {2: 1, 3: 2}: 4 + (5 + 5) + (1 + 5) = 20 bits,
    // entropy 2 * log2(1.5) + log2(3) = 2.75.
    EXPECT_EQ(stream.out, "Global table: size 26 bits, entropy 6 bits\n"
                          "Total local size: 32 bits (4 bytes)\n"
                          "Global vertices before write:\n"
                          "vertex splits: 1\n"
                          "valence 3 counts: 2\n"
                          "valence 4 counts: 1\n"
                          "total: 3\n"
                          "\n"
                          "Vertices before write (0):\n"
                          "total: 0\n"
                          "\ntesting face tables\n"
                          "Global table: size 20 bits, entropy 2 bits\n"
                          "Total local size: 22 bits (2 bytes)\n"
                          "Global faces before write:\n"
                          "boundaries: 1\n"
                          "valence 3 counts: 2\n"
                          "total: 3\n"
                          "Faces before write:\n"
                          "total: 0\n");
    EXPECT_EQ(stream.err, "Header 56 bits (7 bytes)\n"); // 1 + 26 + 4 + 1 + 20 + 4

    std::vector<OpT> withGeometry = {{OpT::kFace, 3, 0},
                                     {OpT::kResidual, 0},
                                     {OpT::kResidual, -5},
                                     {OpT::kResidual, 6},
                                     {OpT::kResidual, 7}};
    stream = writeOps(withGeometry, 1, 1, 12);
    ASSERT_EQ(stream.result, kOk);
    // Geometry table {0: 1, 3: 3}: 4 + (1 + 5) + ("10 10 0" + 5) = 20 bits.
    EXPECT_NE(stream.out.find("Geometry Sig:\nTable size: 20\nsymb 0: 1\nsymb 3: 3\ntotal: 3\n"),
              std::string::npos)
        << stream.out;
    EXPECT_NE(stream.out.find("Signs: positive 2, negative 1, total 3\n"), std::string::npos);
}

TEST(ConnectivityChannel, denseTablesPrintEntropiesWithTheirIndex)
{
    std::vector<OpT> ops;
    for (int i = 0; i < 60; ++i)
    {
        ops.push_back({OpT::kFace, 3 + i % 2, 2});
    }
    StreamT stream = writeOps(ops, 8, 1, 0);
    ASSERT_EQ(stream.result, kOk);
    std::string faces = stream.out.substr(stream.out.find("testing face tables"));
    EXPECT_NE(faces.find("Table 2: entropy 60 bits\n"), std::string::npos) << faces;
    EXPECT_NE(faces.find("Table 8: entropy 0 bits\n"), std::string::npos) << faces;
    EXPECT_NE(faces.find("Faces before write:\nvalence 3 counts: 30\nvalence 4 counts: 30\n"
                         "total: 60\n"),
              std::string::npos);
}

// The stream up to the events, spelt out: both groups' "global present" bits and tables.
std::vector<uint8_t> emptyHeaderThen(const uint64_t globalVertexCounts[15],
                                     void (*events)(ArithmeticEncoderT&))
{
    return encodeToBytes(
        [&](ArithmeticEncoderT& e)
        {
            uint64_t none[15] = {};
            SparseTableT scratch;
            e.encodeUniform(1, 2);
            writeSparseTable(&e, globalVertexCounts, scratch);
            writeSparseTable(&e, none, scratch);
            e.encodeUniform(1, 2);
            writeSparseTable(&e, none, scratch);
            writeSparseTable(&e, none, scratch);
            events(e);
        });
}

TEST(ConnectivityChannel, valencesFrom15TravelAsEscapesOfVMinus15)
{
    uint64_t escapeOnly[15] = {};
    escapeOnly[1] = 1;
    struct CaseT
    {
        int valence;
        void (*events)(ArithmeticEncoderT&);
    };
    for (CaseT c : {CaseT{15,
                          [](ArithmeticEncoderT& e)
                          {
                              EscapeLengthModelT::encode(e, 0);
                              e.encodeUniform(0, 16);
                          }},
                    CaseT{270,
                          [](ArithmeticEncoderT& e)
                          {
                              EscapeLengthModelT::encode(e, 1);
                              e.encodeUniform(255, 256);
                          }},
                    CaseT{271, [](ArithmeticEncoderT& e)
                          {
                              EscapeLengthModelT::encode(e, 2);
                              e.encodeUniform(0, 256);
                              e.encodeUniform(1, 256);
                          }}})
    {
        std::vector<OpT> ops = {{OpT::kVertex, c.valence, 0}};
        StreamT stream = writeOps(ops, 1, 1, 0);
        ASSERT_EQ(stream.result, kOk);
        EXPECT_EQ(stream.bytes, emptyHeaderThen(escapeOnly, c.events)) << c.valence;
        KnitLogCaptureT capture;
        MemoryInputStreamT in(stream.bytes.data(), stream.bytes.size());
        BitSourceT source(in);
        ArithmeticDecoderT decoder(source);
        decoder.start();
        ConnectivityReaderT reader(decoder, 1, 1);
        ASSERT_EQ(reader.readTables(), kOk);
        int valence = 0;
        EXPECT_EQ(reader.readVertexValence(0, valence), kOk);
        EXPECT_EQ(valence, c.valence);
    }
}

TEST(ConnectivityChannel, residualZeroCodesOnlyItsLengthAndMinusOneAddsASign)
{
    // One face symbol keeps the face tables; the geometry table follows them. A table holding
    // one symbol codes it in no bits, so what follows the header is the residual's own bits.
    auto header = [](int length)
    {
        std::string bits = "1" + lsb(0, 4) + lsb(0, 4); // vertices: empty
        bits += "1" + lsb(1, 4) +
                "10"
                "10"
                "10"
                "0"
                "0" +
                lsb(1, 4) // faces: {3: 1}
                + lsb(0, 4);
        bits += lsb(1, 4) + (length == 0 ? "0" : "100") + "0" + lsb(1, 4); // geometry
        return bits;
    };
    for (int residual : {0, -1})
    {
        std::vector<OpT> ops = {{OpT::kFace, 3, 0}, {OpT::kResidual, residual}};
        StreamT stream = writeOps(ops, 1, 1, 12);
        ASSERT_EQ(stream.result, kOk);
        std::string expected = header(residual == 0 ? 0 : 1) + (residual == 0 ? "" : "1");
        expected += std::string(16, '0');
        EXPECT_EQ(streamBits(stream.bytes, expected.size()), expected) << residual;
        EXPECT_EQ(stream.bytes.size(), (expected.size() + 7) / 8);
        int mismatches = 0;
        EXPECT_EQ(readOps(stream.bytes, ops, 1, 1, 12, mismatches), kOk);
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(ConnectivityChannel, emptyGeometryTableIsStillWrittenWithGeometryBits)
{
    // A lone triangle: all its vertices are in the seed face, so no residual is coded, yet the
    // reader reads a geometry table whenever geometry bits is non-zero.
    std::vector<OpT> ops = {{OpT::kRaw, 0x3F800000, 0, 32},
                            {OpT::kFace, 3, 0},
                            {OpT::kVertex, 2, 0},
                            {OpT::kRaw, 4095, 0, 12},
                            {OpT::kVertex, 2, 0},
                            {OpT::kVertex, 2, 0},
                            {OpT::kHole, 3, 0}};
    StreamT stream = writeOps(ops, 1, 1, 12);
    ASSERT_EQ(stream.result, kOk);
    EXPECT_EQ(stream.out.find("Geometry Sig"), std::string::npos);
    int mismatches = 0;
    EXPECT_EQ(readOps(stream.bytes, ops, 1, 1, 12, mismatches), kOk);
    EXPECT_EQ(mismatches, 0);
}

TEST(ConnectivityChannel, valuesBeyondTheLayoutAreRefusedAndNothingIsWritten)
{
    auto refused = [](int faceTables, int geometryBits, auto record)
    {
        KnitLogCaptureT capture;
        MemoryOutputStreamT out;
        BitSinkT sink(out);
        ArithmeticEncoderT encoder(sink);
        ConnectivityWriterT writer(encoder, faceTables, 1, geometryBits);
        EXPECT_EQ(writer.writeFaceValence(3, 0), kOk);
        int r = record(writer);
        int later = writer.writeFaceValence(3, 0);
        int finished = writer.finish();
        EXPECT_EQ(sink.bitCount(), 0u);
        EXPECT_EQ(later, r);
        EXPECT_EQ(finished, r);
        return r;
    };
    EXPECT_EQ(refused(1, 0, [](auto& w) { return w.writeVertexValence(32768, 0); }),
              kChannelOverflow);
    EXPECT_EQ(refused(1, 0, [](auto& w) { return w.writeVertexValence(1, 0); }), kChannelOverflow);
    EXPECT_EQ(refused(1, 0, [](auto& w) { return w.writeFaceValence(65551, 0); }),
              kChannelOverflow);
    EXPECT_EQ(refused(1, 0, [](auto& w) { return w.writeHole(65536, 0); }), kChannelOverflow);
    EXPECT_EQ(refused(1, 12, [](auto& w) { return w.writeResidual(1 << 14); }), kChannelOverflow);
    EXPECT_EQ(refused(1, 12, [](auto& w) { return w.writeResidual(-(1 << 14)); }),
              kChannelOverflow);
    EXPECT_EQ(refused(1, 0, [](auto& w) { return w.writeResidual(1); }), kChannelOverflow);

    // The largest values that fit still round-trip.
    std::vector<OpT> ops = {{OpT::kVertex, kMaxVertexValence, 0},
                            {OpT::kFace, kMaxFaceValence, 0},
                            {OpT::kHole, kMaxHoleValence, 0},
                            {OpT::kResidual, (1 << 14) - 1},
                            {OpT::kResidual, 1 - (1 << 14)}};
    StreamT stream = writeOps(ops, 2, 2, 13);
    ASSERT_EQ(stream.result, kOk);
    int mismatches = 0;
    EXPECT_EQ(readOps(stream.bytes, ops, 2, 2, 13, mismatches), kOk);
    EXPECT_EQ(mismatches, 0);
}

TEST(ConnectivityChannel, denseFaceCountStopsAtThreeBytes)
{
    KnitLogCaptureT capture;
    MemoryOutputStreamT out;
    BitSinkT sink(out);
    ArithmeticEncoderT encoder(sink);
    ConnectivityWriterT writer(encoder, 8, 1, 0);
    int r = kOk;
    for (int64_t i = 0; i < kMaxDenseFaceSymbols && r == kOk; ++i)
    {
        r = writer.writeFaceValence(3, 0);
    }
    ASSERT_EQ(r, kOk);
    EXPECT_EQ(writer.faceSymbols(), kMaxDenseFaceSymbols);
    EXPECT_EQ(writer.writeHole(3, 0), kChannelOverflow);
    EXPECT_EQ(writer.finish(), kChannelOverflow);
}

TEST(ConnectivityReader, emptyTableWithoutGlobalTableIsReported)
{
    // No vertex symbol at all: the vertex tables are empty, and so is the global one.
    std::vector<OpT> faceOnly = {{OpT::kFace, 3, 0}};
    StreamT stream = writeOps(faceOnly, 1, 1, 0);
    KnitLogCaptureT capture;
    MemoryInputStreamT in(stream.bytes.data(), stream.bytes.size());
    BitSourceT source(in);
    ArithmeticDecoderT decoder(source);
    decoder.start();
    ConnectivityReaderT reader(decoder, 1, 1);
    ASSERT_EQ(reader.readTables(), kOk);
    int valence = 0;
    EXPECT_EQ(reader.readVertexValence(0, valence), kChannelNoTable);
    EXPECT_EQ(capture.err, "Empty table not expected\n");
    EXPECT_EQ(reader.readRanged(0, valence), kChannelBadFile);
    EXPECT_EQ(reader.readFaceValence(0, valence), kOk);
    EXPECT_EQ(valence, 3);
    EXPECT_EQ(reader.readFaceValence(0, valence), kChannelEndOfFaces);
}

TEST(ConnectivityReader, exhaustedLocalTableWithoutGlobalTableIsReported)
{
    std::vector<OpT> ops;
    for (int i = 0; i < 50; ++i)
    {
        ops.push_back({OpT::kVertex, 6, 0});
    }
    StreamT stream = writeOps(ops, 1, 1, 0);
    KnitLogCaptureT capture;
    MemoryInputStreamT in(stream.bytes.data(), stream.bytes.size());
    BitSourceT source(in);
    ArithmeticDecoderT decoder(source);
    decoder.start();
    ConnectivityReaderT reader(decoder, 1, 1);
    ASSERT_EQ(reader.readTables(), kOk);
    int valence = 0;
    for (int i = 0; i < 50; ++i)
    {
        ASSERT_EQ(reader.readVertexValence(0, valence), kOk);
    }
    EXPECT_EQ(reader.readVertexValence(0, valence), kChannelNoTable);
}

} // namespace
} // namespace knit
