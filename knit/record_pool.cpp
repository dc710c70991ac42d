// Fixed-size record pools over never-released 64 KiB blocks.

#include "knit/record_pool.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

namespace knit
{

RecordPoolT::RecordPoolT(size_t recordSize)
    : recordSize_(recordSize)
    , perBlock_(kBlockBytes / recordSize)
    , used_(perBlock_)
{
    assert(recordSize >= sizeof(void*) && recordSize % 8 == 0 && perBlock_ > 0);
}

RecordPoolT::~RecordPoolT()
{
    for (void* block : blocks_)
    {
        std::free(block);
    }
}

void* RecordPoolT::take()
{
    void* record = takeUncleared();
    if (record != nullptr)
    {
        std::memset(record, 0, recordSize_);
    }
    return record;
}

void* RecordPoolT::takeSlow()
{
    if (free_ != nullptr)
    {
        void* record = free_;
        std::memcpy(&free_, record, sizeof free_);
        // The next record's link is read on the next take: fetch it while this one is used.
        __builtin_prefetch(free_, 1);
        return record;
    }
    void* block = std::aligned_alloc(4096, kBlockBytes);
    if (block == nullptr)
    {
        return nullptr;
    }
    try
    {
        blocks_.push_back(block);
    }
    catch (...)
    {
        std::free(block);
        return nullptr;
    }
    current_ = static_cast<char*>(block);
    used_ = 1;
    return block;
}

void RecordPoolT::give(void* record)
{
    if (record == nullptr)
    {
        return;
    }
    std::memcpy(record, &free_, sizeof free_);
    free_ = record;
}

} // namespace knit
