#pragma once

// The connectivity channel between the valence traversal and the arithmetic coder. The writer
// records every coding event in memory and counts symbols in its context tables (first pass);
// finish() chooses local or global tables, writes them and replays the events through the coder
// (second pass). The reader reads the tables first and then decodes events on demand.
//
// Symbols: vertex tables 0 split, 1 escape, 2-14 valences; face tables 1 escape, 2 hole, 3-14
// valences. Valences from 15 up travel as escapes carrying v - 15, holes carry their valence.

#include "knit/arithmetic_coder.h"
#include "knit/context_tables.h"
#include "knit/knit_codes.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace knit
{

// Largest values the stream layout carries; the writer refuses larger ones (kChannelOverflow)
// rather than write a stream that decodes to something else.
constexpr int kMaxVertexValence = 32767;              // the decoder rejects larger ones
constexpr int kMaxFaceValence = 15 + kMaxEscapeValue; // 65550
constexpr int kMaxHoleValence = kMaxEscapeValue;      // 65535
constexpr int64_t kMaxDenseFaceSymbols = 0xFFFFFF;    // three bytes
constexpr int64_t kMaxSparseFaceSymbols = kMaxSparseTotal;
constexpr int kMaxResidualLength = 14; // bit length of a residual's magnitude
// Geometry bits the encoder accepts: larger ones can make residual lengths exceed 14.
constexpr int kMaxEncodeGeometryBits = 13;

// Encoding side. faceTables and vertexTables are 1, 2 or 8 (dense tables above 3, sparse
// otherwise); geometryBits is the quantisation setting (0 = no positions in the stream).
class ConnectivityWriterT
{
public:
    ConnectivityWriterT(ArithmeticEncoderT& encoder, int faceTables, int vertexTables,
                        int geometryBits);

    // Each write returns kOk, kChannelOverflow for a value the layout cannot carry, or
    // kChannelNoMemory when the event buffer cannot grow. After a failure nothing more is
    // recorded and finish() returns that code.

    // A vertex valence (2 to kMaxVertexValence) in vertex table `context`.
    int writeVertexValence(int valence, int context);
    // A split: symbol 0 in vertex table `context`.
    int writeVertexSplit(int context);
    // A face valence (3 to kMaxFaceValence) in face table `context`; one face symbol.
    int writeFaceValence(int valence, int context);
    // A hole of valence 1 to kMaxHoleValence in face table `context`; one face symbol.
    int writeHole(int valence, int context);
    // A split ring: ring index `ring` of `rings` (the active rings), then slot offset `offset`
    // of `offsets` (ranged values: a range of 1 writes nothing). Preconditions: value < range.
    int writeSplitRing(int ring, int rings, int offset, int offsets);
    // One ranged value a in range b >= 1 (a < b).
    int writeRanged(uint32_t a, uint32_t b);
    // A signed geometry residual: its length in the geometry table, then its low bits and sign.
    // |r| must have a bit length of at most kMaxResidualLength.
    int writeResidual(int32_t residual);
    // `bits` (0-32) raw bits of value.
    int writeRawBits(uint32_t value, int bits);

    // Chooses the tables, prints the statistics, writes the tables and replays the events
    // (items 1-9 of the stream). The caller then calls the encoder's finish() and flushes the
    // bit sink. Runs once; a second call returns the first call's result. Returns kOk, the
    // first recording failure (nothing written), or kChannelOverflow when a table or count
    // exceeds the layout or the coder met an interval too narrow to code (the stream is then
    // unusable: do not keep the file).
    int finish();

    // Face symbols (faces and holes) recorded so far.
    int64_t faceSymbols() const { return faceSymbols_; }
    // Bits output before the events (known after finish()).
    uint64_t headerBits() const { return headerBits_; }
    // Signs of the non-zero residuals (counted while the events replay).
    int positiveSigns() const { return positive_; }
    int negativeSigns() const { return negative_; }

private:
    // The tables of one group (vertex or face): counts [table][symbol] of the first pass,
    // table `tables` being the global one, and the coding tables of the second pass.
    struct GroupT
    {
        int tables = 0;
        bool dense = false;
        bool anyMerged = false;
        std::vector<uint64_t> counts;
        std::vector<int> codingTable; // the table that codes each table's events
        std::vector<DenseTableT> denseTables;
        std::vector<SparseTableT> sparseTables;

        void init(int n);
        uint64_t* countsOf(int table) { return counts.data() + table * 16; }
        uint64_t total(int table) const;
    };

    bool reserve(size_t words)
    {
        return events_.capacity() - events_.size() >= words || grow(words);
    }
    bool grow(size_t words);
    int fail(int code);
    void chooseTables(GroupT& group, bool vertices);
    void writeGroupTables(GroupT& group, bool vertices);
    void codeSymbol(GroupT& group, int table, int symbol);
    void replayEvents();

    ArithmeticEncoderT& encoder_;
    int geometryBits_;
    GroupT vertex_;
    GroupT face_;
    // Event words: bits 0-15 value, 16-23 kind, 24-31 table number (bit count for raw bits);
    // the plain values of escapes, holes, residuals, raw bits and ranged values follow.
    std::vector<uint32_t> events_;
    uint64_t geometryCounts_[SparseTableT::kSymbols] = {};
    SparseTableT geometry_;
    int64_t faceSymbols_ = 0;
    int failure_ = 0;
    bool finished_ = false;
    int finishResult_ = 0;
    uint64_t headerBits_ = 0;
    int positive_ = 0;
    int negative_ = 0;
};

// Decoding side: faceTables, vertexTables as for the writer (the stream does not record them).
// Create it after the decoder's start(); call readTables(), then readGeometryTable() when
// positions are coded, then read events in the order the writer wrote them.
class ConnectivityReaderT
{
public:
    ConnectivityReaderT(ArithmeticDecoderT& decoder, int faceTables, int vertexTables);

    // Every read returns kOk or an error code: kChannelBadFile (a bad table, a value out of
    // range, or a read more than 32 bits past the end of the stream), kChannelNoTable (an empty
    // table and no global table: "Empty table not expected\n" is printed).

    // Items 1-7: face symbol count (dense face tables), global and local vertex and face tables.
    int readTables();
    // Item 8: the geometry table (read whenever geometry bits is non-zero).
    int readGeometryTable();

    // A vertex valence in vertex table `context`: valence -1 for a split, else the valence
    // (escapes give 15 and more, up to 65550: the caller checks its own limits).
    int readVertexValence(int context, int& valence)
    {
        int symbol = 0;
        int result = decodeSymbol(vertex_, context, symbol);
        if (result != kOk)
        {
            return result;
        }
        if (symbol >= 2)
        {
            valence = symbol;
            return kOk;
        }
        return finishVertexValence(symbol, valence);
    }
    // A face valence in face table `context`: the valence (symbol 0 gives 1, which is invalid),
    // or -n for a hole of valence n. Returns kChannelEndOfFaces when no face symbol is left.
    int readFaceValence(int context, int& valence)
    {
        if (faceSymbolsLeft_ <= 0)
        {
            return kChannelEndOfFaces;
        }
        --faceSymbolsLeft_;
        int symbol = 0;
        int result = decodeSymbol(face_, context, symbol);
        if (result != kOk)
        {
            return result;
        }
        if (symbol >= 3)
        {
            valence = symbol;
            return kOk;
        }
        return finishFaceValence(symbol, valence);
    }
    // A ranged value in range b: kChannelBadFile when b <= 0 or the value read is >= b.
    int readRanged(int64_t b, int& value);
    // Split ring: ring index in `rings`, then offset in `offsets`.
    int readSplitRing(int rings, int& ring, int offsets, int& offset);
    // A signed geometry residual.
    int readResidual(int32_t& residual);
    // `bits` (0-32) raw bits.
    int readRawBits(int bits, uint32_t& value);

    // Face symbols still expected.
    int64_t faceSymbolsLeft() const { return faceSymbolsLeft_; }

private:
    // The tables of one group: 0 .. tables-1 local, `tables` the global one.
    struct GroupT
    {
        int tables = 0;
        bool dense = false;
        bool global = false;
        std::vector<DenseTableT> denseTables;
        std::vector<SparseTableT> sparseTables;

        uint64_t total(int table) const;
    };

    int readGroup(GroupT& group);
    // The symbol of the next event in table `context` of the group (inline: every face and
    // vertex goes through it).
    int decodeSymbol(GroupT& group, int context, int& symbol)
    {
        if (context < 0 || context >= group.tables)
        {
            return kChannelBadFile;
        }
        size_t table = static_cast<size_t>(context);
        if (group.dense)
        {
            if (group.denseTables[table].empty() && !globalTable(group, table))
            {
                return kChannelNoTable;
            }
            symbol = group.denseTables[table].decode(decoder_);
        }
        else
        {
            if (group.sparseTables[table].empty() && !globalTable(group, table))
            {
                return kChannelNoTable;
            }
            symbol = group.sparseTables[table].decode(decoder_);
            if (symbol < 0)
            {
                return kChannelBadFile;
            }
        }
        return bad();
    }
    // For an empty table: sets `table` to the group's global one, or prints "Empty table not
    // expected\n" and returns false when there is none (or it is empty as well).
    bool globalTable(const GroupT& group, size_t& table) const;
    // The symbols other than plain valences: escapes, holes, splits.
    int finishVertexValence(int symbol, int& valence);
    int finishFaceValence(int symbol, int& valence);
    int bad() const { return decoder_.failed() ? kChannelBadFile : kOk; }

    ArithmeticDecoderT& decoder_;
    GroupT vertex_;
    GroupT face_;
    SparseTableT geometry_;
    int64_t faceSymbolsLeft_ = 0;
};

} // namespace knit
