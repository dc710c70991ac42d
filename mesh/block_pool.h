#pragma once

// Record pools of the mesh core: edge and face records come from process-wide pools that carve
// 64 KiB blocks, so that building a mesh of millions of faces makes no heap call per record.

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

#include <sys/mman.h>

// A process-wide pool of records of type T, one per type. A request takes the next unused record
// of the current block; only when that block is exhausted is the free list consulted, and only
// when that is empty is a new block obtained. Blocks are never released. Not thread-safe: records
// of one type are taken and given back on one thread at a time.
template <class T> class BlockPoolT
{
    union SlotT
    {
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
        else if (!free_.empty())
        {
            slot = free_.back();
            free_.pop_back();
            // Records given back lie all over memory: fetch the one a few takes ahead.
            if (free_.size() >= kFetchAhead)
            {
                __builtin_prefetch(free_[free_.size() - kFetchAhead]);
            }
        }
        else
        {
            current_ = newBlock();
            blocks_.push_back(current_);
            used_ = 1;
            slot = current_;
        }
        ++live_;
        return ::new (static_cast<void*>(slot->bytes)) T(std::forward<ArgsT>(args)...);
    }

    // Destroys `record` (taken from this pool) and puts it on the free list.
    void giveBack(T* record) noexcept
    {
        record->~T();
        --live_;
        try
        {
            if (free_.size() == free_.capacity())
            {
                // Room at once for every record carved so far, which the list can never exceed:
                // a simplification gives back most of a large mesh's records, and growing the
                // list by doubling would copy it and touch fresh memory several times over.
                free_.reserve(std::max(2 * free_.capacity(), carved()));
            }
            free_.push_back(reinterpret_cast<SlotT*>(record));
        }
        catch (...)
        {
            // Without memory for the list the record is not reused; nothing else is lost.
        }
    }

    // Destroys `record` (taken from this pool) without putting it on the free list: its slot is
    // never handed out again. For records removed by work that takes no more of them, where a
    // free list would only grow and be touched for nothing.
    void discard(T* record) noexcept
    {
        record->~T();
        --live_;
    }

    // Counts `record` (taken from this pool) as given back but leaves it as it is, valid, and
    // never hands its slot out again. Only for records with nothing to destroy.
    void abandon(T* record) noexcept
    {
        static_assert(std::is_trivially_destructible_v<T>);
        (void)record;
        --live_;
    }

    // Number of 64 KiB blocks obtained so far.
    size_t blockCount() const { return blocks_.size(); }
    // Number of records cut from the blocks so far (taken, given back or not).
    size_t carved() const
    {
        return blocks_.empty() ? 0 : (blocks_.size() - 1) * kRecordsPerBlock + used_;
    }
    // Number of records taken and not given back.
    size_t liveCount() const { return live_; }
    // Number of records given back and waiting on the free list to be taken again.
    size_t freeCount() const { return free_.size(); }

private:
    // Blocks are cut from 2 MiB groups aligned to 2 MiB and offered to the kernel for huge pages:
    // a large mesh then takes one page fault and one TLB entry per group instead of one per 4 KiB,
    // which the simplifier's scattered walks over millions of records feel. The first group of a
    // pool holds only a few blocks, so that small meshes and the many record types of the tests
    // stay small.
    static constexpr size_t kGroupBytes = size_t(2) << 20;
    static constexpr size_t kFirstGroupBlocks = 4;

    SlotT* newBlock()
    {
        if (groupLeft_ == 0)
        {
            const bool first = blocks_.empty();
            const size_t bytes = first ? kFirstGroupBlocks * kBlockBytes : kGroupBytes;
            const size_t alignment = first ? kBlockBytes : kGroupBytes;
            groupNext_ = static_cast<unsigned char*>(std::aligned_alloc(alignment, bytes));
            if (groupNext_ == nullptr)
            {
                throw std::bad_alloc();
            }
#ifdef MADV_HUGEPAGE
            if (!first)
            {
                madvise(groupNext_, bytes, MADV_HUGEPAGE); // a hint: failure changes nothing
            }
#endif
            groupLeft_ = bytes / kBlockBytes;
        }
        // Blocks start on 64 KiB boundaries (at least kBlockAlignment), so records of a multiple
        // of 64 bytes never straddle cache lines.
        SlotT* block = reinterpret_cast<SlotT*>(groupNext_);
        groupNext_ += kBlockBytes;
        --groupLeft_;
        return block;
    }

    BlockPoolT() = default;

    // How many takes ahead a record from the free list is fetched.
    static constexpr size_t kFetchAhead = 8;

    std::vector<SlotT*> blocks_;
    SlotT* current_ = nullptr;
    size_t used_ = 0;
    // Records given back, taken again last in, first out. A list of addresses rather than a chain
    // through the records, so that the records ahead can be fetched without reading each one.
    std::vector<SlotT*> free_;
    size_t live_ = 0;
    unsigned char* groupNext_ = nullptr;
    size_t groupLeft_ = 0;
};

// A std::allocator replacement for the large flat buffers of mesh construction and
// simplification (millions of entries, filled once and reused): buffers of 2 MiB and more are
// aligned to 2 MiB and offered to the kernel for huge pages, so that filling them takes a few
// page faults instead of one per 4 KiB; smaller ones come from the ordinary heap.
template <class T> struct HugePageAllocatorT
{
    static_assert(alignof(T) <= alignof(std::max_align_t), "over-aligned element type");
    using value_type = T;

    HugePageAllocatorT() = default;
    template <class U> HugePageAllocatorT(const HugePageAllocatorT<U>&) {}

    T* allocate(size_t count)
    {
        if (count > size_t(-1) / sizeof(T))
        {
            throw std::bad_alloc();
        }
        const size_t bytes = count * sizeof(T);
        void* memory = nullptr;
        if (bytes >= kHugeBytes)
        {
            memory =
                std::aligned_alloc(kHugeBytes, (bytes + kHugeBytes - 1) / kHugeBytes * kHugeBytes);
#ifdef MADV_HUGEPAGE
            if (memory != nullptr)
            {
                madvise(memory, bytes, MADV_HUGEPAGE); // a hint: failure changes nothing
            }
#endif
        }
        else
        {
            memory = std::malloc(bytes == 0 ? 1 : bytes);
        }
        if (memory == nullptr)
        {
            throw std::bad_alloc();
        }
        return static_cast<T*>(memory);
    }

    void deallocate(T* memory, size_t)
    {
        std::free(memory);
    }

    template <class U> bool operator==(const HugePageAllocatorT<U>&) const
    {
        return true;
    }

private:
    static constexpr size_t kHugeBytes = size_t(2) << 20;
};

// A vector whose large buffers use huge pages (see HugePageAllocatorT).
template <class T> using HugeVectorT = std::vector<T, HugePageAllocatorT<T>>;
