// The valence traversal of knit: components, ring picking, conquest with forward and backward
// zipping, ring insertion, splits, the face and vertex contexts and the position prediction.
// IrEncoder and IrDecoder plug their symbol input and output into it.

#include "knit/valence_coder.h"

#include "knit/knit_codes.h"
#include "knit/knit_log.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace knit
{

int RingT::find(const PolyFaceT* face) const
{
    if (size <= kInlineSlots)
    {
        // A fixed number of compares, the first match kept (the slots past the ring's size are
        // free): where the face sits depends on the mesh, and an early exit there is
        // mispredicted as often as not.
        int found = -1;
        for (int i = kInlineSlots - 1; i >= 0; --i)
        {
            found = inlineSlots[i].face == face ? i : found;
        }
        return found;
    }
    for (int i = 0; i < capacity; ++i)
    {
        if (slots[i].face == face)
        {
            int s = base + i;
            return s >= size ? s - size : s;
        }
    }
    return -1;
}

bool RingT::putInWindow(int s, PolyFaceT* face, int corner)
{
    int offset = s - base;
    if (offset < 0)
    {
        offset += size;
    }
    if (offset >= capacity)
    {
        // Grow the window towards the nearer end, geometrically, never past the ring size.
        int forward = offset - capacity + 1;
        int backward = size - offset;
        int grow = std::min(forward, backward);
        int newCapacity = std::min(size, std::max(capacity + grow, 2 * capacity));
        RingSlotT* grown = new (std::nothrow) RingSlotT[newCapacity];
        if (grown == nullptr)
        {
            return false;
        }
        std::fill(grown, grown + newCapacity, RingSlotT{nullptr, 0});
        int shift = forward <= backward ? 0 : newCapacity - capacity;
        std::copy(slots, slots + capacity, grown + shift);
        if (slots != inlineSlots)
        {
            delete[] slots;
        }
        slots = grown;
        capacity = newCapacity;
        base -= shift;
        if (base < 0)
        {
            base += size;
        }
        offset = s - base;
        if (offset < 0)
        {
            offset += size;
        }
    }
    slots[offset] = RingSlotT{face, corner};
    return true;
}

void NumberSetT::grow(size_t w0)
{
    level0_.resize(std::max(w0 + 1, level0_.size() * 2), 0);
    level1_.resize((level0_.size() + 63) >> 6, 0);
    level2_.resize((level1_.size() + 63) >> 6, 0);
}

int NumberSetT::first() const
{
    if (count_ == 0)
    {
        return -1;
    }
    for (size_t w2 = 0; w2 < level2_.size(); ++w2)
    {
        if (level2_[w2] != 0)
        {
            size_t w1 = (w2 << 6) + static_cast<size_t>(__builtin_ctzll(level2_[w2]));
            size_t w0 = (w1 << 6) + static_cast<size_t>(__builtin_ctzll(level1_[w1]));
            return static_cast<int>((w0 << 6) + static_cast<size_t>(__builtin_ctzll(level0_[w0])));
        }
    }
    return -1;
}

ValenceCoderT::ValenceCoderT(PolyMeshT& mesh, int faceTables, int vertexTables, int geometryBits,
                             bool numbersInCorners)
    : mesh_(mesh)
    , faceTables_(faceTables)
    , vertexTables_(vertexTables)
    , geometryBits_(geometryBits)
    , numbersInCorners_(numbersInCorners)
{
}

ValenceCoderT::~ValenceCoderT()
{
    for (RingT* ring : ringTable_)
    {
        if (ring != nullptr)
        {
            freeRing(ring);
        }
    }
    while (freeRings_ != nullptr)
    {
        RingT* next = freeRings_->next;
        delete freeRings_;
        freeRings_ = next;
    }
}

PolyFaceT* ValenceCoderT::neighbourFace(PolyFaceT* face, int corner)
{
    return face->corner(corner).neighbour;
}

int ValenceCoderT::neighbourCorner(PolyFaceT* face, int corner)
{
    return static_cast<int>(face->corner(corner).link & kLinkMask);
}

void ValenceCoderT::badFile()
{
    if (messages_ && !badFilePrinted_)
    {
        badFilePrinted_ = true;
        knitErr("bad file\n");
    }
}

int ValenceCoderT::run()
{
    try
    {
        for (;;)
        {
            int code = startComponent();
            if (code == kCoderNoComponent)
            {
                return 0;
            }
            if (code != 0)
            {
                badFile();
                return code == kCoderNoMemory ? kCoderNoMemory : 1;
            }
            while (RingT* ring = pickRing())
            {
                code = processRing(ring);
                finishRing(ring);
                if (code != 0)
                {
                    badFile();
                    return code;
                }
            }
        }
    }
    catch (const std::bad_alloc&)
    {
        return kCoderNoMemory;
    }
}

int ValenceCoderT::startComponent()
{
    currentFaceContext_ = FaceContextT{};
    PolyFaceT* seed = nextComponent();
    if (seed == nullptr)
    {
        return kCoderNoComponent;
    }
    int code = ioFaceValence(seed);
    if (code == kChannelEndOfFaces)
    {
        return kCoderNoComponent;
    }
    if (code != 0)
    {
        return code;
    }
    for (int k = 0; k < seed->valence; ++k)
    {
        code = introduceVertex(seed, k);
        if (code != 0)
        {
            return code;
        }
    }
    if (geometryBits_ != 0)
    {
        return codeSeedPositions(seed);
    }
    return 0;
}

RingT* ValenceCoderT::newRing(int size, int number)
{
    RingT* ring = freeRings_;
    if (ring != nullptr)
    {
        freeRings_ = ring->next;
    }
    else
    {
        ring = new (std::nothrow) RingT;
        if (ring == nullptr)
        {
            return nullptr;
        }
    }
    ring->size = size;
    ring->filled = 0;
    ring->next = nullptr;
    ring->prev = nullptr;
    ring->listed = false;
    ring->number = number;
    ring->base = 0;
    ring->capacity = std::min(size, RingT::kInlineSlots);
    ring->slots = ring->inlineSlots;
    ring->filledMask = 0;
    std::fill(ring->inlineSlots, ring->inlineSlots + RingT::kInlineSlots, RingSlotT{nullptr, 0});
    return ring;
}

void ValenceCoderT::freeRing(RingT* ring)
{
    if (ring->slots != ring->inlineSlots)
    {
        delete[] ring->slots;
    }
    ring->slots = ring->inlineSlots;
    ring->next = freeRings_;
    freeRings_ = ring;
}

void ValenceCoderT::finishRing(RingT* ring)
{
    ringTable_[ring->number - 1] = nullptr;
    freeRing(ring);
}

void ValenceCoderT::appendRing(RingT* ring)
{
    ring->prev = activeTail_;
    ring->next = nullptr;
    if (activeTail_ == nullptr)
    {
        activeHead_ = ring;
    }
    else
    {
        activeTail_->next = ring;
    }
    activeTail_ = ring;
    ring->listed = true;
    ++activeCount_;
    track(ring, ring->size - ring->filled, true);
}

void ValenceCoderT::unlinkRing(RingT* ring)
{
    track(ring, ring->size - ring->filled, false);
    (ring->prev != nullptr ? ring->prev->next : activeHead_) = ring->next;
    (ring->next != nullptr ? ring->next->prev : activeTail_) = ring->prev;
    ring->next = nullptr;
    ring->prev = nullptr;
    ring->listed = false;
    --activeCount_;
}

void ValenceCoderT::addFree(int freeSlots, int number)
{
    if (freeSlots <= kSmallFree)
    {
        byFree_[freeSlots].insert(number);
        freeBuckets_ |= 1u << freeSlots;
    }
    else
    {
        manyFree_.emplace(freeSlots, number);
    }
}

void ValenceCoderT::removeFree(int freeSlots, int number)
{
    if (freeSlots <= kSmallFree)
    {
        byFree_[freeSlots].erase(number);
        if (byFree_[freeSlots].empty())
        {
            freeBuckets_ &= ~(1u << freeSlots);
        }
    }
    else
    {
        manyFree_.erase({freeSlots, number});
    }
}

void ValenceCoderT::track(RingT* ring, int freeSlots, bool add)
{
    int n = ring->number;
    if (freeSlots <= 0)
    {
        add ? full_.insert(n) : full_.erase(n);
        return;
    }
    add ? addFree(freeSlots, n) : removeFree(freeSlots, n);
    if (ring->size >= 100)
    {
        if (add)
        {
            largeRings_.emplace(-ring->size, n);
        }
        else
        {
            largeRings_.erase({-ring->size, n});
        }
    }
}

void ValenceCoderT::moveRing(RingT* ring, int freeSlots)
{
    // A large ring keeps its entry by size until it is full.
    int n = ring->number;
    removeFree(freeSlots + 1, n);
    if (freeSlots > 0)
    {
        addFree(freeSlots, n);
        return;
    }
    full_.insert(n);
    if (ring->size >= 100)
    {
        largeRings_.erase({-ring->size, n});
    }
}

RingT* ValenceCoderT::pickRing()
{
    // The same choice as a scan of the list in order: the first ring with one free slot (full
    // rings before it leave the list); else, with every full ring gone, the first ring of the
    // largest size if that is 100 or more, or the first ring with the fewest free slots.
    RingT* chosen = nullptr;
    int fewest = 0;
    if (freeBuckets_ != 0)
    {
        fewest = byFree_[__builtin_ctz(freeBuckets_)].first();
    }
    if (fewest == 0 && !manyFree_.empty())
    {
        fewest = manyFree_.begin()->second;
    }
    bool oneFree =
        fewest != 0 && ringTable_[fewest - 1]->size - ringTable_[fewest - 1]->filled == 1;
    for (int n = full_.first(); n > 0 && (!oneFree || n < fewest); n = full_.first())
    {
        RingT* ring = ringTable_[n - 1];
        unlinkRing(ring);
        finishRing(ring);
    }
    if (fewest == 0)
    {
        return nullptr;
    }
    chosen = ringTable_[fewest - 1];
    if (!oneFree && !largeRings_.empty())
    {
        chosen = ringTable_[largeRings_.begin()->second - 1];
    }
    unlinkRing(chosen);
    return chosen;
}

int ValenceCoderT::processRing(RingT* ring)
{
    if (ring->filled >= ring->size)
    {
        return kCoderBadSplit;
    }
    if (ring->size <= RingT::kInlineSlots)
    {
        // The scan below, stepping from one free slot to the next with the mask of filled
        // slots instead of testing every slot (slot 0 is filled from the start, so the scan
        // ends where no free slot follows e).
        uint32_t all = (1u << ring->size) - 1;
        for (int e = 0;;)
        {
            uint32_t ahead = ~ring->filledMask & all & ~((2u << e) - 1);
            if (ahead == 0)
            {
                return 0;
            }
            int n = __builtin_ctz(ahead);
            e = n - 1;
            int code = conquer(ring, e);
            if (code != 0)
            {
                return code;
            }
            if (ring->isFree(n))
            {
                return kCoderBadFace; // the conquest must have filled the gap
            }
        }
    }
    int e = 0;
    for (;;)
    {
        int n = e + 1 == ring->size ? 0 : e + 1;
        if (ring->isFree(n))
        {
            int code = conquer(ring, e);
            if (code != 0)
            {
                return code;
            }
            if (ring->isFree(n))
            {
                return kCoderBadFace; // the conquest must have filled the gap
            }
        }
        else
        {
            e = n;
            if (e == 0)
            {
                return 0;
            }
        }
    }
}

int ValenceCoderT::lastOfFirstRun(const RingT& ring)
{
    int c = 0;
    while (c + 1 < ring.size && !ring.isFree(c + 1))
    {
        ++c;
    }
    return c + 1 < ring.size ? c : -1;
}

int ValenceCoderT::conquer(RingT* ring, int e)
{
    RingSlotT slot = ring->get(e);
    PolyFaceT* q = slot.face;
    int b = slot.corner + 1 == q->valence ? 0 : slot.corner + 1;
    int gap = e + 1 == ring->size ? 0 : e + 1;

    setFaceContext(ring, gap, q, b);
    PolyFaceT* f = neighbourFace(q, b);
    int code = ioFaceValence(f);
    if (code != 0)
    {
        return code;
    }
    int valence = f->valence;
    if (currentFaceContext_.counter >= 0)
    {
        updateCounter(currentFaceContext_.counter, valence);
    }

    int k0 = neighbourCorner(q, b);
    if (k0 < 0 || k0 >= valence)
    {
        return kCoderBadFace;
    }
    setVertexNumber(f, k0, ring->number);
    InsertResultT inserted = insert(ring, gap, f, k0);
    if (inserted.code != 0)
    {
        return inserted.code;
    }
    PolyFaceT* previous = inserted.previous;
    PolyFaceT* following = inserted.following;

    // Forward zip: the corners after the entry whose vertices the following faces fix.
    int k = k0;
    int fStop = -1;
    for (;;)
    {
        k = k + 1 == valence ? 0 : k + 1;
        if (k == k0)
        {
            break; // closed: every corner is zipped
        }
        if (following == nullptr)
        {
            fStop = k;
            break;
        }
        RingT* other = ringOf(vertexNumber(f, k));
        if (other == nullptr || other->filled >= other->size)
        {
            return kCoderBadFace; // next dir: ring not found
        }
        int at = other->find(following);
        if (at < 0)
        {
            return kCoderBadFace; // next dir: face not found
        }
        inserted = insert(other, at + 1 == other->size ? 0 : at + 1, f, k);
        if (inserted.code != 0)
        {
            return inserted.code;
        }
        following = inserted.following;
    }

    if (fStop >= 0)
    {
        // Backward zip, down to fStop inclusive.
        int stopped = -1;
        k = k0;
        do
        {
            k = k == 0 ? valence - 1 : k - 1;
            if (previous == nullptr)
            {
                stopped = k;
                break;
            }
            RingT* other = ringOf(vertexNumber(f, k));
            if (other == nullptr || other->filled >= other->size)
            {
                return kCoderBadFace; // prev dir: ring not found
            }
            int at = other->find(previous);
            if (at < 0)
            {
                return kCoderBadFace; // prev dir: face not found
            }
            inserted = insert(other, at == 0 ? other->size - 1 : at - 1, f, k);
            if (inserted.code != 0)
            {
                return inserted.code;
            }
            previous = inserted.previous;
        } while (k != fStop);

        if (stopped >= 0)
        {
            for (k = stopped;; k = k == 0 ? valence - 1 : k - 1)
            {
                code = introduceVertex(f, k);
                if (code != 0)
                {
                    return code;
                }
                if (k == fStop)
                {
                    break;
                }
            }
        }
    }

    if (geometryBits_ != 0)
    {
        return codeFacePositions(f, k0, q, b);
    }
    return 0;
}

int ValenceCoderT::introduceVertex(PolyFaceT* face, int corner)
{
    int valence = ioVertexValence(face, corner);
    if (valence >= 1)
    {
        int number = static_cast<int>(ringTable_.size()) + 1;
        RingT* ring = newRing(valence, number);
        if (ring == nullptr)
        {
            return kCoderNoMemory;
        }
        ring->slots[0] = RingSlotT{face, corner};
        ring->filledMask = 1;
        ring->filled = 1;
        ringTable_.push_back(ring);
        appendRing(ring);
        setVertexNumber(face, corner, number);
        valences_.push_back(valence);
        return 0;
    }
    if (valence == -1)
    {
        int position = 0;
        RingT* ring = ioSplitRing(face, corner, position);
        if (ring == nullptr)
        {
            return kCoderBadSplit; // can't i/o split ring
        }
        setVertexNumber(face, corner, ring->number);
        return insert(ring, position, face, corner).code;
    }
    return valence == 0 ? kCoderVertexBad : valence;
}

namespace
{

// Links corner ka of a with corner kb of b both ways, keeping the coders' marks.
void linkCorners(PolyFaceT* a, int ka, PolyFaceT* b, int kb)
{
    PolyCornerT& ca = a->corner(ka);
    PolyCornerT& cb = b->corner(kb);
    ca.neighbour = b;
    ca.link = (ca.link & ~kLinkMask) | static_cast<uint32_t>(kb);
    cb.neighbour = a;
    cb.link = (cb.link & ~kLinkMask) | static_cast<uint32_t>(ka);
}

} // namespace

InsertResultT ValenceCoderT::insert(RingT* ring, int s, PolyFaceT* face, int corner)
{
    InsertResultT result;
    if (!ring->isFree(s))
    {
        result.code = kCoderMismatch;
        return result;
    }
    if (!ring->put(s, face, corner))
    {
        result.code = kCoderNoMemory;
        return result;
    }
    filledOne(ring);
    if (ring->size < 2)
    {
        return result;
    }
    int valence = face->valence;
    int p = s == 0 ? ring->size - 1 : s - 1;
    RingSlotT before = ring->get(p);
    if (before.face != nullptr)
    {
        PolyFaceT* g = before.face;
        int j = before.corner + 1 == g->valence ? 0 : before.corner + 1;
        int km = corner == 0 ? valence - 1 : corner - 1;
        int number = vertexNumber(g, j);
        int known = vertexNumber(face, km);
        if (known != 0)
        {
            if (known != number)
            {
                result.code = kCoderMismatch;
                return result;
            }
        }
        else if (number != 0)
        {
            setVertexNumber(face, km, number);
        }
        if (face->corner(corner).neighbour == nullptr)
        {
            linkCorners(face, corner, g, j);
        }
        result.previous = g;
    }
    int n = s + 1 == ring->size ? 0 : s + 1;
    RingSlotT after = ring->get(n);
    if (after.face != nullptr)
    {
        PolyFaceT* h = after.face;
        int i = after.corner;
        int im = i == 0 ? h->valence - 1 : i - 1;
        int kp = corner + 1 == valence ? 0 : corner + 1;
        int number = vertexNumber(h, im);
        int known = vertexNumber(face, kp);
        if (known != 0)
        {
            if (known != number)
            {
                result.code = kCoderMismatch;
                return result;
            }
        }
        else if (number != 0)
        {
            setVertexNumber(face, kp, number);
        }
        if (face->corner(kp).neighbour == nullptr)
        {
            linkCorners(face, kp, h, i);
        }
        result.following = h;
    }
    return result;
}

void ValenceCoderT::setFaceContext(RingT* ring, int gap, PolyFaceT* previous, int nextCorner)
{
    // Written field by field into the member: a small struct returned by value went through the
    // stack and stalled on its reload.
    FaceContextT& out = currentFaceContext_;
    out.context = 0;
    out.counter = -1;
    out.exchange = false;
    if (faceTables_ < 2 || ring->filled == 0)
    {
        return;
    }
    int size = ring->size;
    int before = gap == 0 ? size - 1 : gap - 1;
    RingSlotT beforeSlot = ring->get(before);
    if (beforeSlot.face == nullptr)
    {
        return;
    }
    PolyFaceT* prevFace = beforeSlot.face;
    if (faceTables_ != 2)
    {
        int sum = valenceOf(ring->number) + valenceOf(vertexNumber(previous, nextCorner));
        int d = prevFace->valence;
        if (d == 3)
        {
            out.context = sum < 12 ? 2 : 3;
        }
        else if (d == 4)
        {
            if (sum < 8)
            {
                out.context = 4;
            }
            else if (sum > 8)
            {
                out.context = 6;
            }
            else
            {
                int twoBefore = before == 0 ? size - 1 : before - 1;
                PolyFaceT* f2 = ring->get(twoBefore).face;
                out.context = ring->filled >= 3 && f2 != nullptr && f2->valence == 4 ? 5 : 7;
            }
        }
        else if (d == 5)
        {
            out.context = 1;
        }
        else
        {
            out.context = 0;
        }
        return;
    }

    // Two face tables: mixed-ring context and the triangle/quadrilateral prediction.
    bool triangleLike = false;
    bool quadLike = false;
    int sumMin4 = 0;
    for (int i = 0; i < ring->capacity; ++i)
    {
        PolyFaceT* face = ring->slots[i].face;
        if (face != nullptr)
        {
            int v = face->valence;
            triangleLike = triangleLike || v == 3 || v > 4;
            quadLike = quadLike || v >= 4;
            sumMin4 += std::min(v, 4);
        }
    }
    out.context = triangleLike && quadLike ? 1 : 0;
    int run = 0;
    for (int i = before; run < size && !ring->isFree(i); i = i == 0 ? size - 1 : i - 1)
    {
        ++run;
    }
    int vs = size <= 3 ? 0 : size == 4 ? 1 : size == 5 ? 2 : 3;
    int tPrev = prevFace->valence > 3 ? 1 : 0;
    if (run == 1)
    {
        out.counter = tPrev + 2 * vs;
        out.context = 0;
    }
    else if (run == 2)
    {
        int twoBefore = before == 0 ? size - 1 : before - 1;
        int t2 = ring->get(twoBefore).face->valence > 3 ? 1 : 0;
        out.counter = 8 + t2 + 2 * (tPrev + 2 * vs);
    }
    else
    {
        int mostlyQuads = 2 * sumMin4 >= 7 * ring->filled ? 1 : 0;
        out.counter = 24 + mostlyQuads + 2 * (tPrev + 2 * vs);
    }
    out.exchange = size >= 3 && counters_[out.counter] >= -1;
}

void ValenceCoderT::updateCounter(int counter, int valence)
{
    if (valence <= 3)
    {
        --counters_[counter];
    }
    else
    {
        ++counters_[counter];
    }
}

int ValenceCoderT::vertexContext(PolyFaceT* face, int corner)
{
    if (vertexTables_ < 2)
    {
        return 0;
    }
    int a = face->valence;
    if (a == 3 || a == 4)
    {
        int context = a == 3 ? 1 : 4;
        int count = 0;
        int sum = 0;
        for (int j = 0; j < a; ++j)
        {
            if (j == corner)
            {
                continue;
            }
            int n = vertexNumber(face, j);
            if (n != 0)
            {
                ++count;
                sum += valenceOf(n);
            }
        }
        if (count >= 2)
        {
            int s = sum - (a == 3 ? 6 : 4) * count;
            context += s < 0 ? -1 : s > 0 ? 1 : 0;
        }
        return context;
    }
    if (a == 5)
    {
        return 6;
    }
    return a >= 6 ? 7 : 0;
}

int ValenceCoderT::codeSeedPositions(PolyFaceT* face)
{
    const uint32_t none[3] = {0, 0, 0};
    int valence = face->valence;
    for (int k = 0; k < std::min(3, valence); ++k)
    {
        if (!positionKnown(face, k))
        {
            int code = ioPosition(face, k, true, none);
            if (code != 0)
            {
                return code;
            }
        }
    }
    uint32_t a[3];
    uint32_t b[3];
    uint32_t c[3];
    uint32_t predicted[3];
    for (int e = 3; e < valence; ++e)
    {
        if (positionKnown(face, e))
        {
            continue;
        }
        position(face, e - 1, a);
        position(face, 0, b);
        position(face, e - 2, c);
        for (int i = 0; i < 3; ++i)
        {
            predicted[i] = a[i] + b[i] - c[i];
        }
        int code = ioPosition(face, e, false, predicted);
        if (code != 0)
        {
            return code;
        }
    }
    return 0;
}

int ValenceCoderT::codeFacePositions(PolyFaceT* face, int entry, PolyFaceT* previous,
                                     int nextCorner)
{
    int valence = face->valence;
    int cPrev = entry == 0 ? valence - 1 : entry - 1;
    int cNext = entry + 1 == valence ? 0 : entry + 1;
    int o = nextCorner + 1 == previous->valence ? 0 : nextCorner + 1;
    uint32_t a[3];
    uint32_t b[3];
    uint32_t c[3];
    uint32_t predicted[3];
    if (!positionKnown(face, cNext))
    {
        position(face, cPrev, a);
        position(face, entry, b);
        position(previous, o, c);
        for (int i = 0; i < 3; ++i)
        {
            predicted[i] = a[i] + b[i] - c[i];
        }
        int code = ioPosition(face, cNext, false, predicted);
        if (code != 0)
        {
            return code;
        }
    }
    for (int step = 2; step <= valence - 2; ++step)
    {
        int e = (entry + step) % valence;
        if (positionKnown(face, e))
        {
            continue;
        }
        int e1 = e == 0 ? valence - 1 : e - 1;
        int e2 = e1 == 0 ? valence - 1 : e1 - 1;
        position(face, e1, a);
        position(face, cPrev, b);
        position(face, e2, c);
        for (int i = 0; i < 3; ++i)
        {
            predicted[i] = a[i] + b[i] - c[i];
        }
        int code = ioPosition(face, e, false, predicted);
        if (code != 0)
        {
            return code;
        }
    }
    return 0;
}

} // namespace knit
