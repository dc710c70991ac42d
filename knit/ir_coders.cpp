// IrEncoder and IrDecoder: the symbol input and output of the valence traversal, the encoder's
// seed choice, split-ring search and position quantisation, and the decoder's face making and
// position reconstruction.

#include "knit/ir_coders.h"

#include "knit/knit_codes.h"
#include "knit/knit_log.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <map>

namespace knit
{

namespace
{

constexpr uint32_t kNotCoded = 0x80000000u; // bit 31 of a quantised x: not yet coded

uint32_t floatBits(float f)
{
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

float bitsFloat(uint32_t u)
{
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

} // namespace

bool checkLayoutLimits(PolyMeshT& mesh, int faceTables)
{
    int64_t symbols = static_cast<int64_t>(mesh.faces.size() + mesh.boundaries.size());
    int64_t maxSymbols = faceTables > 3 ? kMaxDenseFaceSymbols : kMaxSparseFaceSymbols;
    if (symbols > maxSymbols)
    {
        knitErr("too many faces for the stream: %lld faces and holes, at most %lld\n",
                static_cast<long long>(symbols), static_cast<long long>(maxSymbols));
        return false;
    }
    for (const PolyFaceT* face : mesh.faces)
    {
        if (face->valence > kMaxFaceValence)
        {
            knitErr("face of %d corners too large for the stream, at most %d\n", face->valence,
                    kMaxFaceValence);
            return false;
        }
    }
    for (const PolyFaceT* hole : mesh.boundaries)
    {
        if (hole->valence > kMaxHoleValence)
        {
            knitErr("boundary of %d edges too large for the stream, at most %d\n", hole->valence,
                    kMaxHoleValence);
            return false;
        }
    }
    // A vertex's valence is the number of face and hole corners at it (its fan is one cycle
    // once non-manifold vertices are split).
    std::vector<int32_t> valence(mesh.vertices.size(), 0);
    for (size_t i = 0; i < mesh.vertices.size(); ++i)
    {
        mesh.vertices[i]->number = static_cast<int32_t>(i);
    }
    for (const auto* list : {&mesh.faces, &mesh.boundaries})
    {
        for (const PolyFaceT* face : *list)
        {
            for (int k = 0; k < face->valence; ++k)
            {
                const PolyVertexT* v = face->corner(k).vertex;
                if (v != nullptr && ++valence[static_cast<size_t>(v->number)] > kMaxVertexValence)
                {
                    knitErr("vertex %d of valence above %d too large for the stream\n",
                            v->number + 1, kMaxVertexValence);
                    return false;
                }
            }
        }
    }
    return true;
}

bool checkFinitePositions(const PolyMeshT& mesh)
{
    for (size_t i = 0; i < mesh.vertices.size(); ++i)
    {
        const PolyVertexT* v = mesh.vertices[i];
        if (!std::isfinite(v->x) || !std::isfinite(v->y) || !std::isfinite(v->z))
        {
            knitErr("vertex %d has a coordinate that is not a finite number: cannot quantise\n",
                    static_cast<int>(i) + 1);
            return false;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// IrEncoder

IrEncoder::IrEncoder(PolyMeshT& mesh, ConnectivityWriterT& writer, int faceTables, int vertexTables,
                     int geometryBits)
    : ValenceCoderT(mesh, faceTables, vertexTables, geometryBits, false)
    , writer_(writer)
{
    // Until the traversal numbers a vertex, its number field holds minus its valence: the count
    // of face and hole corners at it, which in a built mesh (one fan per vertex, every edge with
    // two sides) is the number of faces a walk around it meets. One pass over the faces here
    // is much cheaper than a walk from face to face for every new vertex.
    for (PolyVertexT* v : mesh.vertices)
    {
        v->number = 0;
    }
    for (const auto* list : {&mesh.faces, &mesh.boundaries})
    {
        for (PolyFaceT* face : *list)
        {
            face->flags &= kHoleFlag;
            for (int k = 0; k < face->valence; ++k)
            {
                PolyCornerT& c = face->corner(k);
                c.link &= kLinkMask;
                --c.vertex->number;
            }
        }
    }
    std::map<int, size_t, std::greater<int>> byValence;
    for (PolyFaceT* face : mesh.faces)
    {
        byValence.emplace(face->valence, 0);
    }
    for (auto& entry : byValence)
    {
        entry.second = seedGroups_.size();
        seedGroups_.push_back(SeedGroupT{entry.first, {}, 0});
    }
    for (PolyFaceT* face : mesh.faces)
    {
        seedGroups_[byValence[face->valence]].faces.push_back(face);
    }
    if (geometryBits != 0)
    {
        quantise();
    }
}

void IrEncoder::quantise()
{
    float lo[3] = {0, 0, 0};
    float hi[3] = {0, 0, 0};
    bool first = true;
    for (const PolyVertexT* v : mesh_.vertices)
    {
        const float p[3] = {v->x, v->y, v->z};
        for (int i = 0; i < 3; ++i)
        {
            lo[i] = first ? p[i] : std::min(lo[i], p[i]);
            hi[i] = first ? p[i] : std::max(hi[i], p[i]);
        }
        first = false;
    }
    for (float f : lo)
    {
        channel(writer_.writeRawBits(floatBits(f), 32));
    }
    for (float f : hi)
    {
        channel(writer_.writeRawBits(floatBits(f), 32));
    }
    double extent = 0;
    for (int i = 0; i < 3; ++i)
    {
        extent = std::max(extent, static_cast<double>(hi[i]) - static_cast<double>(lo[i]));
    }
    double top = static_cast<double>((1u << geometryBits_) - 1);
    double scale = extent > 0 ? top / extent : 0;
    for (PolyVertexT* v : mesh_.vertices)
    {
        float* p[3] = {&v->x, &v->y, &v->z};
        for (int i = 0; i < 3; ++i)
        {
            double q = (static_cast<double>(*p[i]) - static_cast<double>(lo[i])) * scale;
            uint32_t u = static_cast<uint32_t>(std::clamp(q, 0.0, top));
            if (i == 0)
            {
                u |= kNotCoded;
            }
            *p[i] = bitsFloat(u);
        }
    }
}

void IrEncoder::quantised(const PolyVertexT& vertex, uint32_t out[3])
{
    out[0] = floatBits(vertex.x) & ~kNotCoded;
    out[1] = floatBits(vertex.y);
    out[2] = floatBits(vertex.z);
}

int IrEncoder::channel(int result)
{
    if (result != kOk && channelFailure_ == 0)
    {
        channelFailure_ = result;
    }
    return result;
}

int IrEncoder::ioFaceValence(PolyFaceT*& face)
{
    if (face == nullptr || (face->flags & kFaceNumberMask) != 0)
    {
        return kCoderBadFace; // the traversal met a missing or an already coded face
    }
    int context = currentFaceContext_.context;
    if (face->isHole())
    {
        ++holeCounter_;
        face->flags |= kFaceNumberMask;
        holeOrder_.push_back(face);
        return channel(writer_.writeHole(face->valence, context));
    }
    int valence = face->valence;
    // The faces around this one are the next the traversal reaches (and the vertex valences,
    // counted up front, no longer pull them in): ask for them now.
    for (int k = 0; k < valence; ++k)
    {
        __builtin_prefetch(face->corner(k).neighbour);
    }
    int symbol = valence;
    if (currentFaceContext_.exchange && (valence == 3 || valence == 4))
    {
        symbol = 7 - valence;
    }
    ++faceCounter_;
    face->flags = static_cast<uint32_t>(faceCounter_);
    return channel(writer_.writeFaceValence(symbol, context));
}

int IrEncoder::ioVertexValence(PolyFaceT* face, int corner)
{
    int context = vertexContext(face, corner);
    int number = face->corner(corner).vertex->number;
    if (number > 0)
    {
        int result = channel(writer_.writeVertexSplit(context));
        return result != kOk ? result : -1;
    }
    int count = -number; // the valence counted in the constructor
    assert(count == walkedValence(face, corner));
    if (count < 1 || count > kMaxVertexValence)
    {
        return kCoderVertexBad;
    }
    int result = channel(writer_.writeVertexValence(count, context));
    return result != kOk ? result : count;
}

int IrEncoder::walkedValence(PolyFaceT* face, int corner)
{
    // Walk around the vertex: next corner's edge, across to the neighbour, until back.
    PolyFaceT* g = face;
    int j = corner;
    int count = 0;
    do
    {
        ++count;
        int next = j + 1 == g->valence ? 0 : j + 1;
        const PolyCornerT& c = g->corner(next);
        if (c.neighbour == nullptr || count > kMaxVertexValence)
        {
            return 0;
        }
        j = static_cast<int>(c.link & kLinkMask);
        g = c.neighbour;
    } while (g != face || j != corner);
    return count;
}

IrEncoder::~IrEncoder()
{
    // Vertices the traversal never reached go back to number 0 (they still hold their valence).
    for (PolyVertexT* v : mesh_.vertices)
    {
        v->number = std::max(v->number, 0);
    }
}

RingT* IrEncoder::ioSplitRing(PolyFaceT* face, int corner, int& position)
{
    int number = face->corner(corner).vertex->number;
    int index = 0;
    RingT* ring = activeHead();
    while (ring != nullptr && ring->number != number)
    {
        ring = ring->next;
        ++index;
    }
    if (ring == nullptr)
    {
        return nullptr; // can't find ring
    }
    int c = lastOfFirstRun(*ring);
    if (c < 0)
    {
        return nullptr; // adding to full ring
    }
    RingSlotT slot = ring->get(c);
    PolyFaceT* g = slot.face;
    int j = slot.corner;
    int steps = 0;
    while (g != face)
    {
        if (++steps > ring->size)
        {
            return nullptr; // can't find face
        }
        int next = j + 1 == g->valence ? 0 : j + 1;
        const PolyCornerT& cr = g->corner(next);
        if (cr.neighbour == nullptr)
        {
            return nullptr;
        }
        j = static_cast<int>(cr.link & kLinkMask);
        g = cr.neighbour;
    }
    int s = c + steps;
    if (steps == 0 || s >= ring->size || s == 0 || !ring->isFree(s))
    {
        return nullptr; // not a splitting face
    }
    if (channel(writer_.writeSplitRing(index, activeCount(), s - c - 1, ring->size - c - 1)) != kOk)
    {
        return nullptr;
    }
    position = s;
    return ring;
}

PolyFaceT* IrEncoder::nextComponent()
{
    // The unvisited face of largest valence, first in face-list order: per-valence cursors
    // return the same face as a scan of the list.
    for (size_t g = firstSeedGroup_; g < seedGroups_.size(); ++g)
    {
        SeedGroupT& group = seedGroups_[g];
        while (group.cursor < group.faces.size() &&
               (group.faces[group.cursor]->flags & kFaceNumberMask) != 0)
        {
            ++group.cursor;
        }
        if (group.cursor == group.faces.size())
        {
            if (g == firstSeedGroup_)
            {
                ++firstSeedGroup_;
            }
            continue;
        }
        PolyFaceT* seed = group.faces[group.cursor];
        seed->corner(0).link |= kEntryMark;
        ++mesh_.components;
        return seed;
    }
    return nullptr;
}

int IrEncoder::neighbourCorner(PolyFaceT* face, int corner)
{
    const PolyCornerT& c = face->corner(corner);
    int k = static_cast<int>(c.link & kLinkMask);
    if (c.neighbour != nullptr && k < c.neighbour->valence)
    {
        c.neighbour->corner(k).link |= kEntryMark;
    }
    return k;
}

bool IrEncoder::positionKnown(PolyFaceT* face, int corner)
{
    return (floatBits(face->corner(corner).vertex->x) & kNotCoded) == 0;
}

void IrEncoder::position(PolyFaceT* face, int corner, uint32_t out[3])
{
    quantised(*face->corner(corner).vertex, out);
}

int IrEncoder::ioPosition(PolyFaceT* face, int corner, bool raw, const uint32_t predicted[3])
{
    PolyVertexT* v = face->corner(corner).vertex;
    uint32_t q[3];
    quantised(*v, q);
    for (int i = 0; i < 3; ++i)
    {
        int result;
        if (raw)
        {
            result = writer_.writeRawBits(q[i], geometryBits_);
        }
        else
        {
            int64_t residual = static_cast<int64_t>(q[i]) -
                               static_cast<int64_t>(static_cast<int32_t>(predicted[i]));
            result = writer_.writeResidual(static_cast<int32_t>(residual));
        }
        if (channel(result) != kOk)
        {
            return result;
        }
    }
    v->x = bitsFloat(q[0]);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// IrDecoder

IrDecoder::IrDecoder(PolyMeshT& mesh, ConnectivityReaderT& reader, int faceTables, int vertexTables,
                     int geometryBits)
    : ValenceCoderT(mesh, faceTables, vertexTables, geometryBits, true)
    , reader_(reader)
{
    mesh.commonValence = 0;
    mesh.holdsNumbers = true;
}

int IrDecoder::decode()
{
    if (geometryBits_ != 0)
    {
        for (float& f : box_)
        {
            uint32_t bits = 0;
            int result = reader_.readRawBits(32, bits);
            if (result != kOk)
            {
                badFile();
                return result;
            }
            f = bitsFloat(bits);
        }
    }
    int result = run();
    mesh_.vertexCount = numberedVertices();
    if (result != 0 || geometryBits_ == 0)
    {
        return result;
    }
    double extent = 0;
    for (int i = 0; i < 3; ++i)
    {
        extent = std::max(extent, static_cast<double>(box_[3 + i]) - static_cast<double>(box_[i]));
    }
    double top = static_cast<double>((1u << geometryBits_) - 1);
    size_t count = static_cast<size_t>(numberedVertices());
    mesh_.decodedPositions.assign(count * 3, 0.0f);
    for (size_t n = 0; n < count; ++n)
    {
        for (int i = 0; i < 3; ++i)
        {
            uint32_t q = n * 3 + 2 < positions_.size() ? positions_[n * 3 + i] : 0xFFFFFFFFu;
            double value = box_[i];
            if (q != 0 && q != 0xFFFFFFFFu)
            {
                value += (static_cast<double>(q) * 2 + 1) * extent * 0.5 / top;
            }
            mesh_.decodedPositions[n * 3 + i] = static_cast<float>(value);
        }
    }
    return 0;
}

void IrDecoder::quantised(int n, uint32_t out[3]) const
{
    size_t at = static_cast<size_t>(n - 1) * 3;
    for (int i = 0; i < 3; ++i)
    {
        out[i] = n >= 1 && at + 2 < positions_.size() ? positions_[at + i] : 0xFFFFFFFFu;
    }
}

int IrDecoder::ioFaceValence(PolyFaceT*& face)
{
    int valence = 0;
    int result = reader_.readFaceValence(currentFaceContext_.context, valence);
    if (result != kOk)
    {
        return result;
    }
    bool hole = valence < 0;
    if (hole)
    {
        valence = -valence;
    }
    else if (currentFaceContext_.exchange && (valence == 3 || valence == 4))
    {
        valence = 7 - valence;
    }
    if (valence < 3)
    {
        return kCoderBadFace; // bad face valence
    }
    madeCorners_ += valence;
    if (cornerLimit_ > 0 && madeCorners_ > cornerLimit_)
    {
        return kCoderNoMemory;
    }
    std::vector<PolyFaceT*>& list = hole ? mesh_.boundaries : mesh_.faces;
    list.push_back(nullptr);
    face = allocFace(valence);
    if (face == nullptr)
    {
        list.pop_back();
        return kCoderNoMemory;
    }
    list.back() = face;
    if (hole)
    {
        ++holeCounter_;
        face->flags = kHoleFlag | kFaceNumberMask;
        return 0;
    }
    ++faceCounter_;
    face->flags = static_cast<uint32_t>(faceCounter_);
    if (faceCounter_ == 1)
    {
        mesh_.commonValence = valence;
    }
    else if (mesh_.commonValence != valence)
    {
        mesh_.commonValence = -1;
    }
    return 0;
}

int IrDecoder::ioVertexValence(PolyFaceT* face, int corner)
{
    int valence = 0;
    if (reader_.readVertexValence(vertexContext(face, corner), valence) != kOk)
    {
        return kCoderVertexRead; // error reading vertex valence
    }
    if (valence == -1 || (valence >= 2 && valence <= kMaxVertexValence))
    {
        return valence;
    }
    return kCoderVertexBad; // bad vertex valence
}

RingT* IrDecoder::ioSplitRing(PolyFaceT* /*face*/, int /*corner*/, int& position)
{
    int index = 0;
    if (reader_.readRanged(activeCount(), index) != kOk)
    {
        return nullptr; // can't read ring Id
    }
    RingT* ring = activeHead();
    for (int i = 0; i < index && ring != nullptr; ++i)
    {
        ring = ring->next;
    }
    if (ring == nullptr)
    {
        return nullptr;
    }
    int c = lastOfFirstRun(*ring);
    if (c < 0)
    {
        return nullptr; // adding to full ring
    }
    int offsets = ring->size - c - 1;
    int offset = 0;
    if (offsets >= 2 && reader_.readRanged(offsets, offset) != kOk)
    {
        return nullptr; // can't read face pos
    }
    int s = c + 1 + offset;
    if (s == 0 || s >= ring->size || !ring->isFree(s))
    {
        return nullptr; // not a splitting face
    }
    position = s;
    return ring;
}

PolyFaceT* IrDecoder::nextComponent()
{
    // A marker: the face count in the stream ends the components.
    static PolyFaceT marker;
    return &marker;
}

PolyFaceT* IrDecoder::neighbourFace(PolyFaceT* /*face*/, int /*corner*/)
{
    return nullptr;
}

int IrDecoder::neighbourCorner(PolyFaceT* /*face*/, int /*corner*/)
{
    return 0;
}

bool IrDecoder::positionKnown(PolyFaceT* face, int corner)
{
    int n = face->corner(corner).vertexNumber;
    if (n < 1)
    {
        return true; // no vertex to place (a bad stream): skip it
    }
    size_t at = static_cast<size_t>(n - 1) * 3;
    return at < positions_.size() && positions_[at] != 0xFFFFFFFFu;
}

void IrDecoder::position(PolyFaceT* face, int corner, uint32_t out[3])
{
    quantised(face->corner(corner).vertexNumber, out);
}

int IrDecoder::ioPosition(PolyFaceT* face, int corner, bool raw, const uint32_t predicted[3])
{
    int n = face->corner(corner).vertexNumber;
    size_t at = static_cast<size_t>(n - 1) * 3;
    if (at + 3 > positions_.size())
    {
        positions_.resize(std::max(at + 3, positions_.size()) * 2, 0xFFFFFFFFu);
    }
    for (int i = 0; i < 3; ++i)
    {
        int result;
        if (raw)
        {
            uint32_t value = 0;
            result = reader_.readRawBits(geometryBits_, value);
            positions_[at + i] = value;
        }
        else
        {
            int32_t residual = 0;
            result = reader_.readResidual(residual);
            positions_[at + i] = predicted[i] + static_cast<uint32_t>(residual);
        }
        if (result != kOk)
        {
            return result;
        }
    }
    return 0;
}

} // namespace knit
