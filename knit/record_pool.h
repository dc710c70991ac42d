#pragma once

// Fixed-size record pools over 64 KiB blocks that are never given back: the polygon mesh takes
// its vertices, triangles and quadrilaterals from process-wide pools of this kind, so large
// meshes need no heap call per record.

#include <cstddef>
#include <vector>

namespace knit
{

class RecordPoolT
{
public:
    static constexpr size_t kBlockBytes = 65536;

    // recordSize: bytes per record, at least a pointer and a multiple of 8.
    explicit RecordPoolT(size_t recordSize);
    // Frees the blocks. The process-wide pools are never destroyed, so theirs stay for good.
    ~RecordPoolT();
    RecordPoolT(const RecordPoolT&) = delete;
    RecordPoolT& operator=(const RecordPoolT&) = delete;

    // A zeroed record: the next free record of the current block; when the block is used up,
    // the last released record; when there is none, the first record of a new block. Null when
    // memory runs out.
    void* take();
    // The record take() would give, not cleared: for callers that construct every byte. The
    // common case, the next record of the current block, stays inline.
    void* takeUncleared()
    {
        if (used_ < perBlock_)
        {
            return current_ + used_++ * recordSize_;
        }
        return takeSlow();
    }
    // Gives a record back; its first word holds the free-list link until it is taken again.
    void give(void* record);

    size_t recordSize() const { return recordSize_; }
    size_t recordsPerBlock() const { return perBlock_; }
    size_t blockCount() const { return blocks_.size(); }

private:
    void* takeSlow();

    size_t recordSize_;
    size_t perBlock_;
    std::vector<void*> blocks_; // kept so the blocks stay reachable; never freed
    char* current_ = nullptr;
    size_t used_; // records of the current block handed out; perBlock_ while there is none
    void* free_ = nullptr;
};

} // namespace knit
