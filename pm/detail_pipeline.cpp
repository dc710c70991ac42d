// The second thread that runs captured encodings and decodings, and the hand-over of batches.
#include "pm/detail_pipeline.h"

#include <system_error>

DetailPipelineT::DetailPipelineT()
{
    for (DetailBatchT& batch : batches_)
    {
        free_.push_back(&batch);
    }
    filling_ = free_.back();
    free_.pop_back();
    try
    {
        worker_ = std::jthread([this] { work(); });
        threaded_ = true;
    }
    catch (const std::system_error&)
    {
        // No second thread: batches run on this one.
    }
}

DetailPipelineT::~DetailPipelineT()
{
    stop();
}

void DetailPipelineT::handOverWhenFull()
{
    if (filling_->size() >= kBatchJobs)
    {
        handOver();
    }
}

void DetailPipelineT::drain()
{
    handOver();
    if (threaded_)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        // Every batch but the one being filled is back in the free list once all have run.
        changed_.wait(lock, [this] { return free_.size() == kBatches - 1; });
    }
    rethrow();
}

void DetailPipelineT::finish()
{
    drain();
    stop();
}

void DetailPipelineT::handOver()
{
    if (filling_->size() == 0)
    {
        return;
    }
    if (!threaded_)
    {
        try
        {
            filling_->run();
        }
        catch (...)
        {
            filling_->clear();
            throw;
        }
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    full_.push_back(filling_);
    changed_.notify_all();
    changed_.wait(lock, [this] { return !free_.empty(); });
    filling_ = free_.back();
    free_.pop_back();
}

void DetailPipelineT::stop()
{
    if (!threaded_)
    {
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    changed_.notify_all();
    worker_.join();
    threaded_ = false;
}

void DetailPipelineT::work()
{
    for (;;)
    {
        DetailBatchT* batch = nullptr;
        bool failed = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return !full_.empty() || done_; });
            if (full_.empty())
            {
                return;
            }
            batch = full_.front();
            full_.pop_front();
            failed = failure_ != nullptr;
        }
        // After a failure the remaining jobs are dropped; the capturing thread learns of it when
        // it drains.
        std::exception_ptr failure;
        if (!failed)
        {
            try
            {
                batch->run();
            }
            catch (...)
            {
                failure = std::current_exception();
            }
        }
        batch->clear();
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (failure)
            {
                failure_ = failure;
            }
            free_.push_back(batch);
        }
        changed_.notify_all();
    }
}

void DetailPipelineT::rethrow()
{
    std::exception_ptr failure;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        failure = failure_;
        failure_ = nullptr;
    }
    if (failure)
    {
        std::rethrow_exception(failure);
    }
}
