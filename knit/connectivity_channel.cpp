// The connectivity channel: the writer's event buffer, table choice, statistics and two passes,
// and the reader that decodes the same stream item by item.

#include "knit/connectivity_channel.h"

#include "knit/knit_codes.h"
#include "knit/knit_log.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <cstdlib>
#include <new>
#include <utility>

namespace knit
{
namespace
{

enum EventKindT : uint32_t
{
    kVertexEvent = 0,
    kFaceEvent = 1,
    kResidualEvent = 2,
    kRawBitsEvent = 3,
    kRangedEvent = 4,
};

constexpr int kCountStride = 16;     // symbols per table in the writer's count arrays
constexpr uint64_t kMergeLimit = 49; // tables with at most this total go to the global table
constexpr uint32_t kFirstEscapedValence = 15;

uint32_t eventWord(uint32_t kind, uint32_t table, uint32_t value)
{
    return (table << 24) | (kind << 16) | value;
}

// Without a loop: residual lengths vary from one coordinate to the next.
int bitLength(uint64_t v)
{
    return static_cast<int>(std::bit_width(v));
}

// Sum of count * log2(total / count), truncated.
int entropyBits(const uint64_t* counts, int symbols)
{
    uint64_t total = 0;
    for (int s = 0; s < symbols; ++s)
    {
        total += counts[s];
    }
    double bits = 0;
    for (int s = 0; s < symbols; ++s)
    {
        if (counts[s] != 0)
        {
            double c = static_cast<double>(counts[s]);
            bits += c * std::log2(static_cast<double>(total) / c);
        }
    }
    return static_cast<int>(bits);
}

enum TableKindT
{
    kVertexTable,
    kFaceTable,
    kGeometryTable,
};

// Lists the symbols with a non-zero count and the total (a sparse table's leaves out symbol 0).
void dumpTable(const uint64_t* counts, int symbols, TableKindT kind, bool sparse)
{
    uint64_t total = 0;
    for (int s = 0; s < symbols; ++s)
    {
        uint64_t c = counts[s];
        total += c;
        if (c == 0)
        {
            continue;
        }
        int n = static_cast<int>(c);
        if (kind == kGeometryTable)
        {
            knitOut("symb %d: %d\n", s, n);
        }
        else if (s == 0)
        {
            knitOut(kind == kFaceTable ? "face splits: %d\n" : "vertex splits: %d\n", n);
        }
        else if (s == 1)
        {
            knitOut(kind == kFaceTable ? "face valence>MAXELM total: %d \n"
                                       : "vertex valence>MAXELM total: %d \n",
                    n);
        }
        else if (s == 2 && kind == kFaceTable)
        {
            knitOut("boundaries: %d\n", n);
        }
        else
        {
            knitOut("valence %d counts: %d\n", s, n);
        }
    }
    if (sparse)
    {
        total -= counts[0];
    }
    knitOut("total: %d\n", static_cast<int>(total));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Writer

void ConnectivityWriterT::GroupT::init(int n)
{
    tables = n;
    dense = n > 3;
    counts.assign(static_cast<size_t>(n + 1) * kCountStride, 0);
    codingTable.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
    {
        codingTable[static_cast<size_t>(i)] = i;
    }
    if (dense)
    {
        denseTables.resize(static_cast<size_t>(n + 1));
    }
    else
    {
        sparseTables.resize(static_cast<size_t>(n + 1));
    }
}

uint64_t ConnectivityWriterT::GroupT::total(int table) const
{
    uint64_t sum = 0;
    for (int s = 0; s < kCountStride; ++s)
    {
        sum += counts[static_cast<size_t>(table) * kCountStride + s];
    }
    return sum;
}

ConnectivityWriterT::ConnectivityWriterT(ArithmeticEncoderT& encoder, int faceTables,
                                         int vertexTables, int geometryBits)
    : encoder_(encoder)
    , geometryBits_(geometryBits)
{
    assert(faceTables >= 1 && faceTables <= 255 && vertexTables >= 1 && vertexTables <= 255);
    vertex_.init(vertexTables);
    face_.init(faceTables);
}

int ConnectivityWriterT::fail(int code)
{
    if (failure_ == 0)
    {
        failure_ = code;
    }
    return failure_;
}

bool ConnectivityWriterT::grow(size_t words)
{
    // Grow geometrically: fixed steps would copy the buffer a quadratic number of times.
    size_t wanted = std::max(events_.capacity() * 2, events_.size() + words);
    wanted = std::max<size_t>(wanted, 4096);
    try
    {
        events_.reserve(wanted);
    }
    catch (const std::bad_alloc&)
    {
        fail(kChannelNoMemory);
        return false;
    }
    return true;
}

int ConnectivityWriterT::writeVertexValence(int valence, int context)
{
    if (failure_ != 0)
    {
        return failure_;
    }
    if (valence < 2 || valence > kMaxVertexValence || context < 0 || context >= vertex_.tables)
    {
        return fail(kChannelOverflow);
    }
    if (!reserve(2))
    {
        return failure_;
    }
    uint32_t v = static_cast<uint32_t>(valence);
    uint32_t c = static_cast<uint32_t>(context);
    if (v < kFirstEscapedValence)
    {
        events_.push_back(eventWord(kVertexEvent, c, v));
        ++vertex_.countsOf(context)[v];
    }
    else
    {
        events_.push_back(eventWord(kVertexEvent, c, 1));
        events_.push_back(v - kFirstEscapedValence);
        ++vertex_.countsOf(context)[1];
    }
    return kOk;
}

int ConnectivityWriterT::writeVertexSplit(int context)
{
    if (failure_ != 0)
    {
        return failure_;
    }
    if (context < 0 || context >= vertex_.tables)
    {
        return fail(kChannelOverflow);
    }
    if (!reserve(1))
    {
        return failure_;
    }
    events_.push_back(eventWord(kVertexEvent, static_cast<uint32_t>(context), 0));
    ++vertex_.countsOf(context)[0];
    return kOk;
}

int ConnectivityWriterT::writeFaceValence(int valence, int context)
{
    if (failure_ != 0)
    {
        return failure_;
    }
    int64_t limit = face_.dense ? kMaxDenseFaceSymbols : kMaxSparseFaceSymbols;
    if (valence < 3 || valence > kMaxFaceValence || context < 0 || context >= face_.tables ||
        faceSymbols_ >= limit)
    {
        return fail(kChannelOverflow);
    }
    if (!reserve(2))
    {
        return failure_;
    }
    uint32_t v = static_cast<uint32_t>(valence);
    uint32_t c = static_cast<uint32_t>(context);
    if (v < kFirstEscapedValence)
    {
        events_.push_back(eventWord(kFaceEvent, c, v));
        ++face_.countsOf(context)[v];
    }
    else
    {
        events_.push_back(eventWord(kFaceEvent, c, 1));
        events_.push_back(v - kFirstEscapedValence);
        ++face_.countsOf(context)[1];
    }
    ++faceSymbols_;
    return kOk;
}

int ConnectivityWriterT::writeHole(int valence, int context)
{
    if (failure_ != 0)
    {
        return failure_;
    }
    int64_t limit = face_.dense ? kMaxDenseFaceSymbols : kMaxSparseFaceSymbols;
    if (valence < 1 || valence > kMaxHoleValence || context < 0 || context >= face_.tables ||
        faceSymbols_ >= limit)
    {
        return fail(kChannelOverflow);
    }
    if (!reserve(2))
    {
        return failure_;
    }
    events_.push_back(eventWord(kFaceEvent, static_cast<uint32_t>(context), 2));
    events_.push_back(static_cast<uint32_t>(valence));
    ++face_.countsOf(context)[2];
    ++faceSymbols_;
    return kOk;
}

int ConnectivityWriterT::writeRanged(uint32_t a, uint32_t b)
{
    if (failure_ != 0)
    {
        return failure_;
    }
    if (b == 0 || a >= b)
    {
        assert(!"ranged value out of its range");
        return fail(kChannelOverflow);
    }
    if (!reserve(3))
    {
        return failure_;
    }
    events_.push_back(eventWord(kRangedEvent, 0, 0));
    events_.push_back(a);
    events_.push_back(b);
    return kOk;
}

int ConnectivityWriterT::writeSplitRing(int ring, int rings, int offset, int offsets)
{
    if (ring < 0 || rings < 1 || offset < 0 || offsets < 1)
    {
        assert(!"split ring out of its range");
        return fail(kChannelOverflow);
    }
    int result = writeRanged(static_cast<uint32_t>(ring), static_cast<uint32_t>(rings));
    if (result != kOk)
    {
        return result;
    }
    return writeRanged(static_cast<uint32_t>(offset), static_cast<uint32_t>(offsets));
}

int ConnectivityWriterT::writeResidual(int32_t residual)
{
    if (failure_ != 0)
    {
        return failure_;
    }
    uint64_t magnitude = static_cast<uint64_t>(std::llabs(static_cast<long long>(residual)));
    int length = bitLength(magnitude);
    // Without geometry bits the stream carries no geometry table to code lengths with.
    if (length > kMaxResidualLength || geometryBits_ == 0)
    {
        return fail(kChannelOverflow);
    }
    if (!reserve(2))
    {
        return failure_;
    }
    events_.push_back(eventWord(kResidualEvent, 0, 0));
    events_.push_back(static_cast<uint32_t>(residual));
    ++geometryCounts_[length];
    return kOk;
}

int ConnectivityWriterT::writeRawBits(uint32_t value, int bits)
{
    if (failure_ != 0)
    {
        return failure_;
    }
    if (bits < 0 || bits > 32)
    {
        return fail(kChannelOverflow);
    }
    if (!reserve(2))
    {
        return failure_;
    }
    if (bits < 32)
    {
        value &= (1u << bits) - 1;
    }
    events_.push_back(eventWord(kRawBitsEvent, static_cast<uint32_t>(bits), 0));
    events_.push_back(value);
    return kOk;
}

void ConnectivityWriterT::chooseTables(GroupT& group, bool vertices)
{
    (void)vertices;
    uint64_t* global = group.countsOf(group.tables);
    int localSize = 0;
    for (int i = 0; i < group.tables; ++i)
    {
        uint64_t total = group.total(i);
        if (total <= kMergeLimit)
        {
            uint64_t* counts = group.countsOf(i);
            for (int s = 0; s < kCountStride; ++s)
            {
                global[s] += counts[s];
                counts[s] = 0;
            }
            group.codingTable[static_cast<size_t>(i)] = group.tables;
            group.anyMerged = true;
            continue;
        }
        int entropy = entropyBits(group.countsOf(i), kCountStride);
        if (group.dense)
        {
            DenseTableT scratch;
            int size = writeDenseTable(nullptr, group.countsOf(i), scratch);
            knitOut("Table %d: entropy %d bits\n", i, entropy);
            localSize += entropy + size;
        }
        else
        {
            SparseTableT scratch;
            int size = writeSparseTable(nullptr, group.countsOf(i), scratch);
            knitOut("Table %d: size %d bits, entropy %d bits\n", i, size, entropy);
            localSize += entropy + size;
        }
    }
    if (group.anyMerged)
    {
        int entropy = entropyBits(global, kCountStride);
        if (group.dense)
        {
            DenseTableT scratch;
            int size = writeDenseTable(nullptr, global, scratch);
            knitOut("Table %d: entropy %d bits\n", group.tables, entropy);
            localSize += entropy + size;
        }
        else
        {
            SparseTableT scratch;
            int size = writeSparseTable(nullptr, global, scratch);
            knitOut("Global table: size %d bits, entropy %d bits\n", size, entropy);
            localSize += entropy + size;
        }
    }
    knitOut("Total local size: %d bits (%d bytes)\n", localSize, localSize / 8);
}

void ConnectivityWriterT::writeGroupTables(GroupT& group, bool vertices)
{
    TableKindT kind = vertices ? kVertexTable : kFaceTable;
    int symbols = group.dense ? DenseTableT::kSymbols : SparseTableT::kSymbols;
    auto writeTable = [&](int i)
    {
        if (group.dense)
        {
            writeDenseTable(&encoder_, group.countsOf(i),
                            group.denseTables[static_cast<size_t>(i)]);
        }
        else
        {
            writeSparseTable(&encoder_, group.countsOf(i),
                             group.sparseTables[static_cast<size_t>(i)]);
        }
    };
    encoder_.encodeUniform(group.anyMerged ? 1 : 0, 2);
    if (group.anyMerged)
    {
        knitOut(vertices ? "Global vertices before write:\n" : "Global faces before write:\n");
        dumpTable(group.countsOf(group.tables), symbols, kind, !group.dense);
        writeTable(group.tables);
    }
    if (vertices)
    {
        knitOut("\n");
    }
    for (int i = 0; i < group.tables; ++i)
    {
        if (vertices)
        {
            knitOut("Vertices before write (%d):\n", i);
        }
        else
        {
            knitOut("Faces before write:\n");
        }
        dumpTable(group.countsOf(i), symbols, kind, !group.dense);
        writeTable(i);
    }
}

void ConnectivityWriterT::codeSymbol(GroupT& group, int table, int symbol)
{
    table = group.codingTable[static_cast<size_t>(table)];
    if (group.dense)
    {
        group.denseTables[static_cast<size_t>(table)].encode(encoder_, symbol);
    }
    else
    {
        group.sparseTables[static_cast<size_t>(table)].encode(encoder_, symbol);
    }
}

void ConnectivityWriterT::replayEvents()
{
    const uint32_t* word = events_.data();
    const uint32_t* end = word + events_.size();
    while (word < end)
    {
        uint32_t w = *word++;
        uint32_t value = w & 0xFFFF;
        int table = static_cast<int>(w >> 24);
        switch ((w >> 16) & 0xFF)
        {
        case kVertexEvent:
            codeSymbol(vertex_, table, static_cast<int>(value));
            if (value == 1)
            {
                encodeEscape(encoder_, *word++);
            }
            break;
        case kFaceEvent:
            codeSymbol(face_, table, static_cast<int>(value));
            if (value == 1 || value == 2)
            {
                encodeEscape(encoder_, *word++);
            }
            break;
        case kResidualEvent:
        {
            int32_t r = static_cast<int32_t>(*word++);
            uint32_t magnitude = static_cast<uint32_t>(r < 0 ? -static_cast<int64_t>(r) : r);
            int length = bitLength(magnitude);
            geometry_.encode(encoder_, length);
            if (length > 1)
            {
                uint32_t range = 1u << (length - 1);
                encoder_.encodeUniform(magnitude & (range - 1), range);
            }
            if (r != 0)
            {
                encoder_.encodeUniform(r < 0 ? 1 : 0, 2);
                ++(r < 0 ? negative_ : positive_);
            }
            break;
        }
        case kRawBitsEvent:
            encodeRawBits(encoder_, *word++, table);
            break;
        case kRangedEvent:
            encodeRanged(encoder_, word[0], word[1]);
            word += 2;
            break;
        default:
            assert(!"unknown event kind");
            return;
        }
    }
}

int ConnectivityWriterT::finish()
{
    if (finished_)
    {
        return finishResult_;
    }
    finished_ = true;
    if (failure_ != 0)
    {
        finishResult_ = failure_;
        return finishResult_;
    }
    // Sparse tables carry 31-bit counts; the face count of dense face tables has 24 bits.
    for (GroupT* group : {&vertex_, &face_})
    {
        uint64_t sum = 0;
        for (int i = 0; i < group->tables; ++i)
        {
            sum += group->total(i);
        }
        if (!group->dense && sum > kMaxSparseTotal)
        {
            finishResult_ = kChannelOverflow;
            return finishResult_;
        }
    }

    chooseTables(vertex_, true);
    if (face_.dense)
    {
        encodeRawBits(encoder_, static_cast<uint32_t>(faceSymbols_), 24);
    }
    writeGroupTables(vertex_, true);
    knitOut("\ntesting face tables\n");
    chooseTables(face_, false);
    writeGroupTables(face_, false);

    if (geometryBits_ != 0)
    {
        // Written even when empty (four 0 bits): the reader expects it whenever geometry bits is
        // non-zero, e.g. for a lone triangle whose vertices are all in the seed face.
        int size = writeSparseTable(&encoder_, geometryCounts_, geometry_);
        if (!geometry_.empty())
        {
            knitOut("Geometry Sig:\nTable size: %d\n", size);
            dumpTable(geometryCounts_, SparseTableT::kSymbols, kGeometryTable, true);
        }
    }
    headerBits_ = encoder_.bitsOutput();
    knitErr("Header %d bits (%d bytes)\n", static_cast<int>(headerBits_),
            static_cast<int>(headerBits_ / 8));

    replayEvents();
    if (positive_ + negative_ > 0)
    {
        knitOut("Signs: positive %d, negative %d, total %d\n", positive_, negative_,
                positive_ + negative_);
    }
    finishResult_ = encoder_.failed() ? kChannelOverflow : kOk;
    return finishResult_;
}

// ---------------------------------------------------------------------------------------------
// Reader

uint64_t ConnectivityReaderT::GroupT::total(int table) const
{
    return dense ? denseTables[static_cast<size_t>(table)].total()
                 : sparseTables[static_cast<size_t>(table)].total();
}

ConnectivityReaderT::ConnectivityReaderT(ArithmeticDecoderT& decoder, int faceTables,
                                         int vertexTables)
    : decoder_(decoder)
{
    assert(faceTables >= 1 && vertexTables >= 1);
    for (auto [group, n] : {std::pair{&vertex_, vertexTables}, std::pair{&face_, faceTables}})
    {
        group->tables = n;
        group->dense = n > 3;
        if (group->dense)
        {
            group->denseTables.resize(static_cast<size_t>(n + 1));
        }
        else
        {
            group->sparseTables.resize(static_cast<size_t>(n + 1));
        }
    }
}

int ConnectivityReaderT::readGroup(GroupT& group)
{
    group.global = decoder_.decodeUniform(2) != 0;
    auto readTable = [&](int i)
    {
        return group.dense ? readDenseTable(decoder_, group.denseTables[static_cast<size_t>(i)])
                           : readSparseTable(decoder_, group.sparseTables[static_cast<size_t>(i)]);
    };
    if (group.global)
    {
        int result = readTable(group.tables);
        if (result != kOk)
        {
            return result;
        }
    }
    for (int i = 0; i < group.tables; ++i)
    {
        int result = readTable(i);
        if (result != kOk)
        {
            return result;
        }
    }
    return kOk;
}

int ConnectivityReaderT::readTables()
{
    if (face_.dense)
    {
        faceSymbolsLeft_ = decodeRawBits(decoder_, 24);
    }
    int result = readGroup(vertex_);
    if (result == kOk)
    {
        result = readGroup(face_);
    }
    if (result != kOk)
    {
        return result;
    }
    if (!face_.dense)
    {
        uint64_t sum = 0;
        for (int i = 0; i <= face_.tables; ++i)
        {
            sum += face_.total(i);
        }
        if (sum > static_cast<uint64_t>(kMaxSparseFaceSymbols))
        {
            knitErr("bad file\n");
            return kChannelBadFile;
        }
        faceSymbolsLeft_ = static_cast<int64_t>(sum);
    }
    return bad();
}

int ConnectivityReaderT::readGeometryTable()
{
    int result = readSparseTable(decoder_, geometry_);
    return result != kOk ? result : bad();
}

bool ConnectivityReaderT::globalTable(const GroupT& group, size_t& table) const
{
    // An empty table hands its symbols to the global one (for a sparse table also once it has
    // counted down to nothing, which a valid stream never reaches before its last symbol).
    size_t global = static_cast<size_t>(group.tables);
    if (!group.global ||
        (group.dense ? group.denseTables[global].empty() : group.sparseTables[global].empty()))
    {
        knitErr("Empty table not expected\n");
        return false;
    }
    table = global;
    return true;
}

int ConnectivityReaderT::finishVertexValence(int symbol, int& valence)
{
    if (symbol == 0)
    {
        valence = -1;
    }
    else
    {
        valence = static_cast<int>(decodeEscape(decoder_) + kFirstEscapedValence);
    }
    return bad();
}

int ConnectivityReaderT::finishFaceValence(int symbol, int& valence)
{
    if (symbol == 0)
    {
        valence = 1;
    }
    else if (symbol == 1)
    {
        valence = static_cast<int>(decodeEscape(decoder_) + kFirstEscapedValence);
    }
    else
    {
        valence = -static_cast<int>(decodeEscape(decoder_));
    }
    return bad();
}

int ConnectivityReaderT::readRanged(int64_t b, int& value)
{
    if (b <= 0 || b > 0x7FFFFFFF)
    {
        return kChannelBadFile;
    }
    uint32_t a = decodeRanged(decoder_, static_cast<uint32_t>(b));
    if (a >= b)
    {
        return kChannelBadFile;
    }
    value = static_cast<int>(a);
    return bad();
}

int ConnectivityReaderT::readSplitRing(int rings, int& ring, int offsets, int& offset)
{
    int result = readRanged(rings, ring);
    return result != kOk ? result : readRanged(offsets, offset);
}

int ConnectivityReaderT::readResidual(int32_t& residual)
{
    if (geometry_.empty())
    {
        knitErr("Empty table not expected\n");
        return kChannelNoTable;
    }
    int length = geometry_.decode(decoder_);
    if (length < 0)
    {
        return kChannelBadFile;
    }
    int32_t magnitude = 0;
    if (length >= 1)
    {
        magnitude = 1 << (length - 1);
    }
    if (length > 1)
    {
        uint32_t range = 1u << (length - 1);
        magnitude |= static_cast<int32_t>(decoder_.decodeUniform(range));
    }
    residual = magnitude;
    if (length > 0 && decoder_.decodeUniform(2) != 0)
    {
        residual = -magnitude;
    }
    return bad();
}

int ConnectivityReaderT::readRawBits(int bits, uint32_t& value)
{
    if (bits < 0 || bits > 32)
    {
        return kChannelBadFile;
    }
    value = decodeRawBits(decoder_, bits);
    return bad();
}

} // namespace knit
