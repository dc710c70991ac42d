#pragma once

// The valence traversal shared by knit's encoder and decoder: a region-growing conquest of a
// polygon mesh (holes included) that describes its connectivity as face valences, vertex
// valences and splits. IrEncoder reads the symbols off a built mesh, IrDecoder rebuilds the mesh
// from them; both run the very same traversal and differ only in the virtual operations.

#include "knit/poly_mesh.h"

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <set>
#include <utility>
#include <vector>

namespace knit
{

// Result codes of the traversal (besides the channel's codes, which are passed up unchanged).
constexpr int kCoderBadSplit = 1;     // a failed split, a full or over-full ring
constexpr int kCoderBadFace = 2;      // a bad face valence; a lost ring or face while zipping
constexpr int kCoderMismatch = -1;    // ring insertion found two different vertex numbers
constexpr int kCoderVertexRead = -2;  // the vertex valence could not be read
constexpr int kCoderVertexBad = -3;   // a vertex valence outside 2..32767
constexpr int kCoderNoMemory = 40;    // a face or ring could not be allocated
constexpr int kCoderNoComponent = -2; // startComponent: no component is left

// One slot of a ring: an incident face and the corner at which it uses the ring's vertex.
struct RingSlotT
{
    PolyFaceT* face;
    int32_t corner;
};

// An active vertex: its incident faces in rotational order, `size` slots of which `filled` are
// in use (a slot whose face is null is free). Storage covers only a circular window of slots
// around those filled so far, so memory follows the faces actually met rather than the valence
// read from a stream; slots outside the window are free.
struct RingT
{
    static constexpr int kInlineSlots = 8;

    int32_t size = 0;
    int32_t filled = 0;
    RingT* next = nullptr;
    RingT* prev = nullptr; // the active list is doubly linked so rings unlink anywhere at once
    bool listed = false;   // in the active list
    int32_t number = 0;    // 1-based vertex number
    int32_t base = 0;      // slot index stored at window position 0
    int32_t capacity = 0;
    RingSlotT* slots = nullptr; // window storage: inlineSlots or a heap array
    RingSlotT inlineSlots[kInlineSlots];
    uint32_t filledMask = 0; // rings of at most kInlineSlots slots: bit s set when s is filled

    // The slot at index s (0 <= s < size); a free slot when outside the window. A ring of at
    // most kInlineSlots slots holds them all from slot 0 on (base 0, capacity = size).
    RingSlotT get(int s) const
    {
        if (size <= kInlineSlots)
        {
            return slots[s];
        }
        int offset = s - base;
        if (offset < 0)
        {
            offset += size;
        }
        if (offset < capacity)
        {
            return slots[offset];
        }
        return RingSlotT{nullptr, 0};
    }
    bool isFree(int s) const { return get(s).face == nullptr; }
    // Index of the slot holding `face`, -1 when absent.
    int find(const PolyFaceT* face) const;
    // Stores a slot at index s, growing the window; false when memory runs out.
    bool put(int s, PolyFaceT* face, int corner)
    {
        if (size <= kInlineSlots)
        {
            slots[s] = RingSlotT{face, corner};
            filledMask |= 1u << s;
            return true;
        }
        return putInWindow(s, face, corner);
    }
    bool putInWindow(int s, PolyFaceT* face, int corner);
};

// A set of vertex numbers with constant-time insertion and removal and a fast search for the
// smallest member: a three-level bit tree. Insertion and removal are inline: the ring pick's
// index moves a ring between two sets at every filled slot.
class NumberSetT
{
public:
    // Adds n (>= 0), which must not be a member yet.
    void insert(int n)
    {
        size_t w0 = static_cast<size_t>(n) >> 6;
        if (w0 >= level0_.size())
        {
            grow(w0);
        }
        uint64_t bit = uint64_t{1} << (n & 63);
        assert((level0_[w0] & bit) == 0);
        level0_[w0] |= bit;
        level1_[w0 >> 6] |= uint64_t{1} << (w0 & 63);
        level2_[w0 >> 12] |= uint64_t{1} << ((w0 >> 6) & 63);
        ++count_;
    }
    // Removes n, which must be a member.
    void erase(int n)
    {
        size_t w0 = static_cast<size_t>(n) >> 6;
        assert(w0 < level0_.size() && (level0_[w0] >> (n & 63) & 1) != 0);
        --count_;
        // Without branches: whether a word empties depends on the data and is hard to predict.
        uint64_t word = level0_[w0] & ~(uint64_t{1} << (n & 63));
        level0_[w0] = word;
        size_t w1 = w0 >> 6;
        uint64_t summary = level1_[w1] & ~(static_cast<uint64_t>(word == 0) << (w0 & 63));
        level1_[w1] = summary;
        level2_[w1 >> 6] &= ~(static_cast<uint64_t>(summary == 0) << (w1 & 63));
    }
    bool empty() const { return count_ == 0; }
    // The smallest member, -1 when empty.
    int first() const;

private:
    void grow(size_t w0);

    std::vector<uint64_t> level0_;
    std::vector<uint64_t> level1_;
    std::vector<uint64_t> level2_;
    int count_ = 0;
};

// The faces before and after a slot, reported by ring insertion.
struct InsertResultT
{
    int code = 0;
    PolyFaceT* previous = nullptr;
    PolyFaceT* following = nullptr;
};

// The base traversal. Subclasses supply the nine operations; run() drives the conquest.
class ValenceCoderT
{
public:
    // mesh: the mesh to code (encoder) or to fill (decoder); faceTables 1, 2 or 8; vertexTables
    // 1 or 8; geometryBits 0 (no positions) or the quantisation bits.
    // numbersInCorners: vertex numbers live in the corners (decoder) rather than in the vertex
    // records (encoder).
    ValenceCoderT(PolyMeshT& mesh, int faceTables, int vertexTables, int geometryBits,
                  bool numbersInCorners);
    virtual ~ValenceCoderT();
    ValenceCoderT(const ValenceCoderT&) = delete;
    ValenceCoderT& operator=(const ValenceCoderT&) = delete;

    // Codes every component. Returns 0 on success, else the code of the first failure (prints
    // "bad file\n" for a failure of a decoded stream when messages are on).
    int run();

    // When on, a failure caused by a bad stream prints "bad file\n" (the message flag).
    void setMessages(bool on) { messages_ = on; }

    // Numbered vertices so far (the size of the ring table).
    int numberedVertices() const { return static_cast<int>(valences_.size()); }
    // Faces and holes coded so far.
    int codedFaces() const { return faceCounter_; }
    int codedHoles() const { return holeCounter_; }

protected:
    // Codes the valence of a face (or hole). Encoder: `face` is the face to write; decoder: it
    // receives the new face. Returns 0 or an error code.
    virtual int ioFaceValence(PolyFaceT*& face) = 0;
    // Codes the vertex at (face, corner) when first met: its valence, or -1 for a split; other
    // values are errors.
    virtual int ioVertexValence(PolyFaceT* face, int corner) = 0;
    // Codes a split: the active ring of the vertex at (face, corner) and the slot where the face
    // belongs. Null on failure.
    virtual RingT* ioSplitRing(PolyFaceT* face, int corner, int& position) = 0;
    // The seed of the next component, null when none is left.
    virtual PolyFaceT* nextComponent() { return nullptr; }
    // The face across the edge of (face, corner); null when it is yet to be made.
    virtual PolyFaceT* neighbourFace(PolyFaceT* face, int corner);
    // The corner of that neighbour at which it is entered.
    virtual int neighbourCorner(PolyFaceT* face, int corner);
    // The number of the vertex at (face, corner), 0 when not known yet. The decoder keeps the
    // numbers in the corners; the encoder in the vertex records, known to a corner once its
    // known-vertex mark is set. (Inline rather than virtual: the traversal asks for them at
    // every corner it touches.)
    int vertexNumber(const PolyFaceT* face, int corner) const
    {
        const PolyCornerT& c = face->corner(corner);
        if (numbersInCorners_)
        {
            return c.vertexNumber;
        }
        return (c.link & kKnownVertexMark) != 0 ? c.vertex->number : 0;
    }
    void setVertexNumber(PolyFaceT* face, int corner, int n)
    {
        PolyCornerT& c = face->corner(corner);
        if (numbersInCorners_)
        {
            c.vertexNumber = n;
            return;
        }
        c.vertex->number = n;
        c.link |= kKnownVertexMark;
    }

    // Positions (geometry bits > 0). positionKnown: the vertex at (face, corner) has a coded
    // position; position: its quantised coordinates; ioPosition codes the vertex's position raw
    // (raw = true, geometry bits per coordinate) or as residuals from `predicted`.
    virtual bool positionKnown(PolyFaceT* face, int corner) = 0;
    virtual void position(PolyFaceT* face, int corner, uint32_t out[3]) = 0;
    virtual int ioPosition(PolyFaceT* face, int corner, bool raw, const uint32_t predicted[3]) = 0;

    // The face context of the face about to be coded: its table, and with two face tables
    // whether 3 and 4 are exchanged. Valid inside ioFaceValence.
    struct FaceContextT
    {
        int context = 0;
        int counter = -1; // prediction counter to update, -1 none
        bool exchange = false;
    };
    FaceContextT currentFaceContext_;
    // The vertex context of the vertex at (face, corner).
    int vertexContext(PolyFaceT* face, int corner);
    // The valence of vertex number n (1-based), 0 for an unknown number.
    int valenceOf(int n) const
    {
        return n >= 1 && n <= static_cast<int>(valences_.size()) ? valences_[n - 1] : 0;
    }

    // Active rings in list order (for the split ring index).
    RingT* activeHead() const { return activeHead_; }
    int activeCount() const { return activeCount_; }
    // The ring of vertex number n, null when none is active.
    RingT* ringOf(int n) const
    {
        return n >= 1 && n <= static_cast<int>(ringTable_.size()) ? ringTable_[n - 1] : nullptr;
    }
    // c of the split: the last filled slot of the first run of filled slots from slot 0; -1
    // when the ring has no free slot.
    static int lastOfFirstRun(const RingT& ring);

    // Emits "bad file\n" once when messages are on.
    void badFile();

    PolyMeshT& mesh_;
    int faceTables_;
    int vertexTables_;
    int geometryBits_;
    bool numbersInCorners_;
    bool messages_ = false;
    int faceCounter_ = 0;
    int holeCounter_ = 0;

private:
    int startComponent();
    RingT* pickRing();
    int processRing(RingT* ring);
    int conquer(RingT* ring, int e);
    int introduceVertex(PolyFaceT* face, int corner);
    InsertResultT insert(RingT* ring, int s, PolyFaceT* face, int corner);
    void setFaceContext(RingT* ring, int gap, PolyFaceT* previous, int nextCorner);
    void updateCounter(int counter, int valence);
    int codeSeedPositions(PolyFaceT* face);
    int codeFacePositions(PolyFaceT* face, int entry, PolyFaceT* previous, int nextCorner);
    RingT* newRing(int size, int number);
    void freeRing(RingT* ring);
    void finishRing(RingT* ring);
    void appendRing(RingT* ring);
    void unlinkRing(RingT* ring);
    void track(RingT* ring, int freeSlots, bool add);
    // Counts one more filled slot of a ring and moves a listed ring from the set of its old
    // free count to that of the new one (inline for the common move between two small counts).
    void filledOne(RingT* ring)
    {
        ++ring->filled;
        if (!ring->listed)
        {
            return;
        }
        int freeSlots = ring->size - ring->filled;
        if (freeSlots < 1 || freeSlots >= kSmallFree)
        {
            moveRing(ring, freeSlots);
            return;
        }
        NumberSetT& from = byFree_[freeSlots + 1];
        from.erase(ring->number);
        freeBuckets_ &= ~(static_cast<uint32_t>(from.empty()) << (freeSlots + 1));
        byFree_[freeSlots].insert(ring->number);
        freeBuckets_ |= 1u << freeSlots;
    }
    void moveRing(RingT* ring, int freeSlots);
    void addFree(int freeSlots, int number);
    void removeFree(int freeSlots, int number);

    std::vector<RingT*> ringTable_;
    std::vector<int32_t> valences_;
    RingT* activeHead_ = nullptr;
    RingT* activeTail_ = nullptr;
    int activeCount_ = 0;
    RingT* freeRings_ = nullptr; // recycled ring records
    int32_t counters_[40] = {};
    // The pick's index over the listed rings (the list order is the vertex-number order): the
    // non-full rings by free slots (one number set per small count, an ordered set above), the
    // full rings, and the rings of 100 slots or more by size.
    static constexpr int kSmallFree = 16;
    NumberSetT byFree_[kSmallFree + 1];
    uint32_t freeBuckets_ = 0;               // bit f set while byFree_[f] is not empty
    std::set<std::pair<int, int>> manyFree_; // (free slots, number)
    NumberSetT full_;
    std::set<std::pair<int, int>> largeRings_; // (-size, number)
    bool badFilePrinted_ = false;
};

} // namespace knit
