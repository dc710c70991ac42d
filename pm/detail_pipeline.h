#pragma once

// Running captured encodings or decodings (DetailBatchT) on a second thread while the thread that
// captures them goes on changing the mesh.

#include "pm/detail_coding.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

// The capturing thread fills a batch and hands it over when full; the second thread runs the
// batches in the order they were handed over, so the jobs run in capture order. Without a second
// thread each batch runs when handed over.
class DetailPipelineT
{
public:
    DetailPipelineT();
    // Runs what was handed over (not the batch being filled) and stops the second thread.
    ~DetailPipelineT();
    DetailPipelineT(const DetailPipelineT&) = delete;
    DetailPipelineT& operator=(const DetailPipelineT&) = delete;

    // The batch being filled.
    DetailBatchT& batch() { return *filling_; }

    // Hands the batch being filled over once it holds enough jobs.
    void handOverWhenFull();

    // Runs every job captured so far and waits until they have run; rethrows what the second
    // thread threw. The pipeline can be filled again afterwards.
    void drain();

    // drain(), then stops the second thread.
    void finish();

private:
    static constexpr size_t kBatchJobs = 128;
    static constexpr size_t kBatches = 4;

    void handOver();
    void stop();
    void work();
    void rethrow();

    DetailBatchT batches_[kBatches];
    DetailBatchT* filling_ = nullptr;
    std::deque<DetailBatchT*> full_;
    std::vector<DetailBatchT*> free_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool done_ = false;
    bool threaded_ = false;
    // Written by the second thread under the mutex, read after it has been joined or drained.
    std::exception_ptr failure_;
    std::jthread worker_;
};
