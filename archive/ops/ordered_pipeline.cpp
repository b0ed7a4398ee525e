#include "archive/ops/ordered_pipeline.h"

#include "archive/base/progress_sink.h"

namespace {

// Jobs read ahead per pool thread. Many, so that a large job at the front does not leave the
// other threads idle; the byte budget is what limits memory.
constexpr size_t AHEAD_PER_THREAD = 512;
// How often the taking thread looks at the front job's advance while it waits.
constexpr uint32_t POLL_MS = 50;

}  // namespace

void PipelineJob::advance(uint64_t units) {
    advanced.store(units, std::memory_order_relaxed);
    if (live != nullptr && *live) (*live)(units);
}

OrderedPipeline::OrderedPipeline(unsigned threads, uint64_t budgetBytes)
    : pool(threads <= 1 ? 0 : threads), maxAhead(threads <= 1 ? 1 : AHEAD_PER_THREAD * threads),
      budget(budgetBytes) {}

bool OrderedPipeline::hasRoom(uint64_t bytes) const {
    if (ahead.empty()) return true;
    return ahead.size() < maxAhead && held + bytes <= budget;
}

void OrderedPipeline::add(std::unique_ptr<PipelineJob> job) {
    held += job->footprint;
    // Without pool threads the job runs when it is taken, so that its advances reach the taker.
    if (job->runnable && pool.threadCount() > 0) pool.submit(*job);
    ahead.push_back(std::move(job));
}

std::unique_ptr<PipelineJob> OrderedPipeline::take(const std::function<void(uint64_t)>& onAdvance) {
    PipelineJob& job = *ahead.front();
    if (job.runnable && pool.threadCount() == 0) {
        job.live = &onAdvance;
        pool.submit(job);  // runs here
        job.live = nullptr;
    } else if (job.runnable) {
        uint64_t heard = 0;
        while (!pool.wait(job, POLL_MS)) {
            const uint64_t units = job.advanced.load(std::memory_order_relaxed);
            if (units > heard) {
                heard = units;
                onAdvance(units);
            }
        }
    }
    std::unique_ptr<PipelineJob> done = std::move(ahead.front());
    ahead.pop_front();
    held -= done->footprint;
    return done;
}

std::function<void(uint64_t)> writeShare(uint64_t units, uint64_t length, ProgressSink& progress,
                                         uint64_t& reported) {
    if (length <= WRITE_PIECE_BYTES) return {};
    return [=, &progress, &reported](uint64_t written) {
        if (written >= length) return;
        const uint64_t share = units * written / length;
        if (share > reported) {
            reported = share;
            progress.reportProgress(uint32_t(share), false);
        }
    };
}
