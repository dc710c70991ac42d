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
    void* record = nullptr;
    if (current_ != nullptr && used_ < perBlock_)
    {
        record = current_ + used_ * recordSize_;
        ++used_;
    }
    else if (free_ != nullptr)
    {
        record = free_;
        std::memcpy(&free_, record, sizeof free_);
    }
    else
    {
        void* block = std::aligned_alloc(4096, kBlockBytes);
        if (block == nullptr)
        {
            return nullptr;
        }
        blocks_.push_back(block);
        current_ = static_cast<char*>(block);
        used_ = 1;
        record = block;
    }
    std::memset(record, 0, recordSize_);
    return record;
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
