#pragma once

// Record pools of the mesh core: edge and face records come from process-wide pools that carve
// 64 KiB blocks, so that building a mesh of millions of faces makes no heap call per record.

#include <cstddef>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

// A process-wide pool of records of type T, one per type. A request takes the next unused record
// of the current block; only when that block is exhausted is the free list consulted, and only
// when that is empty is a new block obtained. Blocks are never released. Not thread-safe: records
// of one type are taken and given back on one thread at a time.
template <class T> class BlockPoolT
{
    union SlotT
    {
        SlotT* nextFree;
        alignas(T) unsigned char bytes[sizeof(T)];
    };

public:
    static constexpr size_t kBlockBytes = 65536;
    static constexpr size_t kBlockAlignment = alignof(SlotT) > 64 ? alignof(SlotT) : 64;
    static constexpr size_t kRecordsPerBlock = kBlockBytes / sizeof(SlotT);
    static_assert(kRecordsPerBlock > 0, "record larger than a pool block");

    // The pool of T. It lives until the process ends, so its blocks stay reachable.
    static BlockPoolT& instance()
    {
        static BlockPoolT* pool = new BlockPoolT;
        return *pool;
    }

    // Constructs a T from `args` in a free record and returns it.
    template <class... ArgsT> T* take(ArgsT&&... args)
    {
        SlotT* slot;
        if (used_ < kRecordsPerBlock && current_ != nullptr)
        {
            slot = current_ + used_++;
        }
        else if (freeList_ != nullptr)
        {
            slot = freeList_;
            freeList_ = slot->nextFree;
        }
        else
        {
            // Cache-line aligned, so that records of a multiple of 64 bytes never straddle lines.
            current_ = static_cast<SlotT*>(std::aligned_alloc(kBlockAlignment, kBlockBytes));
            if (current_ == nullptr)
            {
                throw std::bad_alloc();
            }
            blocks_.push_back(current_);
            used_ = 1;
            slot = current_;
        }
        ++live_;
        return ::new (static_cast<void*>(slot->bytes)) T(std::forward<ArgsT>(args)...);
    }

    // Destroys `record` (taken from this pool) and puts it on the free list.
    void giveBack(T* record)
    {
        record->~T();
        SlotT* slot = reinterpret_cast<SlotT*>(record);
        slot->nextFree = freeList_;
        freeList_ = slot;
        --live_;
    }

    // Number of 64 KiB blocks obtained so far.
    size_t blockCount() const { return blocks_.size(); }
    // Number of records taken and not given back.
    size_t liveCount() const { return live_; }

private:
    BlockPoolT() = default;

    std::vector<SlotT*> blocks_;
    SlotT* current_ = nullptr;
    size_t used_ = 0;
    SlotT* freeList_ = nullptr;
    size_t live_ = 0;
};
