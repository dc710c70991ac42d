#pragma once

// knit's two traversal ends: IrEncoder reads the connectivity (and, with geometry bits, the
// quantised positions) off a built polygon mesh into a connectivity writer; IrDecoder reads a
// stream through a connectivity reader and rebuilds the faces, holes, vertex numbering and
// positions in an empty mesh.

#include "knit/connectivity_channel.h"
#include "knit/valence_coder.h"

#include <cstdint>
#include <vector>

namespace knit
{

// Checks that a built mesh fits the stream layout before anything is written: at most
// 16,777,215 face symbols (faces and holes) with dense face tables (faceTables 8), face
// valences up to 65550, hole valences up to 65535, vertex valences up to 32767. Prints the
// reason and returns false otherwise. Uses the vertices' `number` fields as scratch (the
// encoder resets them anyway).
bool checkLayoutLimits(PolyMeshT& mesh, int faceTables);

// Checks that every vertex coordinate is a finite number (needed to quantise positions).
// Prints the first offending vertex and returns false otherwise.
bool checkFinitePositions(const PolyMeshT& mesh);

class IrEncoder : public ValenceCoderT
{
public:
    // Clears the mesh's face numbers, corner marks and vertex numbers; with geometry bits
    // (1-13) records the bounding box in the writer and quantises the positions in place (the
    // mesh's coordinates then hold integers). The mesh must pass checkLayoutLimits (and
    // checkFinitePositions with geometry).
    IrEncoder(PolyMeshT& mesh, ConnectivityWriterT& writer, int faceTables, int vertexTables,
              int geometryBits);
    // Leaves the vertices the run never reached with number 0.
    ~IrEncoder() override;

    // The hole faces in the order they were coded (the decoder's boundary list order).
    const std::vector<PolyFaceT*>& holeOrder() const { return holeOrder_; }
    // The first channel failure (kChannelOverflow, kChannelNoMemory), 0 if none.
    int channelFailure() const { return channelFailure_; }
    // The quantised position of a mesh vertex (valid with geometry bits after the run).
    static void quantised(const PolyVertexT& vertex, uint32_t out[3]);

protected:
    int ioFaceValence(PolyFaceT*& face) override;
    int ioVertexValence(PolyFaceT* face, int corner) override;
    RingT* ioSplitRing(PolyFaceT* face, int corner, int& position) override;
    PolyFaceT* nextComponent() override;
    int neighbourCorner(PolyFaceT* face, int corner) override;
    bool positionKnown(PolyFaceT* face, int corner) override;
    void position(PolyFaceT* face, int corner, uint32_t out[3]) override;
    int ioPosition(PolyFaceT* face, int corner, bool raw, const uint32_t predicted[3]) override;

private:
    int channel(int result);
    void quantise();
    // The number of faces met walking around the vertex at (face, corner), 0 when the walk
    // finds no way round (checks the counted valences in debug builds).
    static int walkedValence(PolyFaceT* face, int corner);

    ConnectivityWriterT& writer_;
    std::vector<PolyFaceT*> holeOrder_;
    // Seeds: faces grouped by valence (largest first), each group in face-list order with a
    // cursor past the faces already visited.
    struct SeedGroupT
    {
        int valence;
        std::vector<PolyFaceT*> faces;
        size_t cursor = 0;
    };
    std::vector<SeedGroupT> seedGroups_;
    size_t firstSeedGroup_ = 0;
    int channelFailure_ = 0;
};

class IrDecoder : public ValenceCoderT
{
public:
    // mesh: empty, holding numbers; the reader has read its tables (and the geometry table when
    // geometryBits is non-zero). With geometry bits the constructor does not read yet: run()
    // reads the bounding box first.
    IrDecoder(PolyMeshT& mesh, ConnectivityReaderT& reader, int faceTables, int vertexTables,
              int geometryBits);

    // Decodes the whole stream (run()), then sets the mesh's vertex count and, with geometry
    // bits, its decoded positions. Returns 0 or the failure code.
    int decode();

    // Stops with kCoderNoMemory once the faces and holes made hold more than `corners` corners
    // (0 = no limit); fuzzers use it to bound memory on streams that describe huge meshes in a
    // few bytes.
    void setCornerLimit(int64_t corners) { cornerLimit_ = corners; }
    // The quantised position of vertex number n (valid with geometry bits after decode()).
    void quantised(int n, uint32_t out[3]) const;

protected:
    int ioFaceValence(PolyFaceT*& face) override;
    int ioVertexValence(PolyFaceT* face, int corner) override;
    RingT* ioSplitRing(PolyFaceT* face, int corner, int& position) override;
    PolyFaceT* nextComponent() override;
    PolyFaceT* neighbourFace(PolyFaceT* face, int corner) override;
    int neighbourCorner(PolyFaceT* face, int corner) override;
    bool positionKnown(PolyFaceT* face, int corner) override;
    void position(PolyFaceT* face, int corner, uint32_t out[3]) override;
    int ioPosition(PolyFaceT* face, int corner, bool raw, const uint32_t predicted[3]) override;

private:
    ConnectivityReaderT& reader_;
    std::vector<uint32_t> positions_; // 3 words per vertex number - 1, all ones = not known
    float box_[6] = {};               // min x, y, z, max x, y, z
    int64_t cornerLimit_ = 0;
    int64_t madeCorners_ = 0;
};

} // namespace knit
