#pragma once
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "archive/ops/work_pool.h"

class ProgressSink;

// One job of an OrderedPipeline. run() may call advance() as its work proceeds.
class PipelineJob : public WorkItem {
public:
    // Units of work done so far (what they are is the job's business); the taking thread hears of them.
    void advance(uint64_t units);

    // Bytes the job holds while it waits to be taken, counted against the pipeline's budget.
    uint64_t footprint = 0;
    // False when there is nothing to run (its failure was found while it was read); taken as it is.
    bool runnable = true;

private:
    friend class OrderedPipeline;
    std::atomic<uint64_t> advanced{0};
    // Set while the job runs on the taking thread, which then hears of every advance at once.
    const std::function<void(uint64_t)>* live = nullptr;
};

// Jobs run on pool threads in the order they are added and are taken back in that order, while
// the adding thread reads the next ones and writes the finished ones. The count and the bytes of
// the jobs ahead are bounded. With one thread (or none) there is no pool: each job runs on the
// taking thread when its turn comes, and only one is read ahead.
class OrderedPipeline {
public:
    OrderedPipeline(unsigned threads, uint64_t budgetBytes);
    OrderedPipeline(const OrderedPipeline&) = delete;
    OrderedPipeline& operator=(const OrderedPipeline&) = delete;
    // Runs what is still queued before the jobs go.
    ~OrderedPipeline() = default;

    // Whether a job expected to hold `bytes` may be added now: always when none is ahead.
    bool hasRoom(uint64_t bytes) const;
    // Queues `job` (when runnable) behind the ones ahead.
    void add(std::unique_ptr<PipelineJob> job);
    bool empty() const { return ahead.empty(); }
    PipelineJob& front() { return *ahead.front(); }
    // Waits for the front job and removes it. `onAdvance` hears of its advances meanwhile, on
    // this thread: polled while a pool thread runs it, each one when it runs here.
    std::unique_ptr<PipelineJob> take(const std::function<void(uint64_t units)>& onAdvance);

    template <typename Job>
    std::unique_ptr<Job> takeAs(const std::function<void(uint64_t units)>& onAdvance) {
        return std::unique_ptr<Job>(static_cast<Job*>(take(onAdvance).release()));
    }

private:
    // Before the pool, so that the pool ends (and runs what is queued) before the jobs go.
    std::deque<std::unique_ptr<PipelineJob>> ahead;
    WorkPool pool;
    const size_t maxAhead;
    const uint64_t budget;
    uint64_t held = 0;
};

// Finished streams and files are written in pieces of this size: one write for most entries,
// while the bar can still move as a large one goes to disk.
constexpr size_t WRITE_PIECE_BYTES = 1 << 20;

// Progress while the taking thread writes a finished job's `length` bytes: the share of the job's
// `units` the written part stands for; only what goes beyond `reported` (which it updates), and
// never the end, which the job's commit reports. Empty when the bytes go out in one piece, as
// most entries' do: then there is no share before the end, and no function to allocate.
std::function<void(uint64_t written)> writeShare(uint64_t units, uint64_t length, ProgressSink& progress,
                                                 uint64_t& reported);
