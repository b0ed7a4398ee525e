// Allocations that fail on purpose: this program replaces the global allocator with one that
// can be told to fail from the Nth allocation on, on every thread.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "archive/model/archive.h"
#include "archive/base/result_codes.h"
#include "tests/support/archive_writer.h"
#include "tests/support/recording_listener.h"
#include "tests/support/temp_dir.h"
#include "worker/task_codes.h"
#include "worker/task_run.h"

// Every block comes from malloc and goes back to free; GCC, seeing new and free meet after
// inlining, does not know that.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

// Allocations left before they fail; negative: none fails.
std::atomic<long> allocationsLeft{-1};

void* allocate(std::size_t size) {
    if (allocationsLeft.load(std::memory_order_relaxed) >= 0 && allocationsLeft.fetch_sub(1) <= 0) return nullptr;
    return std::malloc(size == 0 ? 1 : size);
}

// Fails from the `count`th allocation on until it goes.
struct FailingAllocations {
    explicit FailingAllocations(long count) { allocationsLeft = count; }
    ~FailingAllocations() { allocationsLeft = -1; }
    bool reached() const { return allocationsLeft.load() < 0; }
};

}  // namespace

void* operator new(std::size_t size) {
    if (void* block = allocate(size)) return block;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* block = allocate(size)) return block;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace {

// The counts to fail at: every one of the first few, then spread out up to `limit`, each
// `spread`th part of the way further than the one before.
std::vector<long> failurePoints(long limit, long spread = 16) {
    std::vector<long> points;
    for (long n = 0; n < limit; n += n < 64 ? 1 : 1 + n / spread) points.push_back(n);
    return points;
}

TestArchive manyEntries(int count) {
    TestArchive writer;
    for (int i = 0; i < count; ++i) {
        writer.add("data\\f" + std::to_string(i) + ".txt", std::string(200 + i % 1000, char('a' + i % 26)));
    }
    return writer;
}

}  // namespace

// Whichever allocation of an open fails, the open says "out of memory" and leaves no table half
// read; once none fails, it opens. A large table is made into entries on several threads, and
// the allocation that fails may be any thread's, or the one that starts a thread.
TEST(AllocationFailure, OpeningAnArchiveIsOutOfMemoryWhereverItFails) {
    for (const int count : {300, 20000}) {
        SCOPED_TRACE(count);
        TempDir dir;
        const std::u16string path = manyEntries(count).writeTo(dir);
        bool opened = false;
        for (const long n : count < 1000 ? failurePoints(100000) : failurePoints(1000000, 4)) {
            SCOPED_TRACE(n);
            GrfArchive archive;
            Outcome outcome;
            bool reached = false;
            {
                FailingAllocations failing(n);
                outcome = archive.open(path);
                reached = failing.reached();
            }
            if (!reached) {
                EXPECT_TRUE(outcome) << describe(outcome);
                ASSERT_EQ(archive.storedEntries().size(), size_t(count));
                // Every record made into its own entry, in table order, whichever thread made it.
                for (const int i : {0, count / 2, count - 1}) {
                    const std::string name = "data\\f" + std::to_string(i) + ".txt";
                    EXPECT_EQ(archive.storedEntries()[size_t(i)]->name(), name);
                    EXPECT_EQ(archive.findStored(name), archive.storedEntries()[size_t(i)].get());
                }
                opened = true;
                break;
            }
            ASSERT_FALSE(outcome) << "allocation " << n << " failed unnoticed";
            EXPECT_EQ(outcome.reason().cause, Cause::OUT_OF_MEMORY) << describe(outcome);
            EXPECT_TRUE(archive.storedEntries().empty());
            EXPECT_FALSE(archive.file.isOpen());
        }
        EXPECT_TRUE(opened);
    }
}

// A batch extraction whose allocations fail, on its own thread or in a pool job: the task ends,
// and every failure it names, its own or an entry's, is "out of memory".
TEST(AllocationFailure, ExtractionTaskNamesOnlyOutOfMemory) {
    TempDir dir;
    const std::u16string path = manyEntries(60).writeTo(dir);
    GrfArchive archive;
    ASSERT_TRUE(archive.open(path));
    bool finished = false;
    for (const long n : failurePoints(200000)) {
        SCOPED_TRACE(n);
        auto args = std::make_unique<ExtractListArgs>();
        for (const auto& entry : archive.storedEntries()) args->selection.push_back(entry.get());
        args->targetDir = dir.file(u"out" + std::u16string(1, char16_t(u'0' + n % 10)));
        RecordingListener listener;
        TaskCompletion completion;
        bool reached = false;
        {
            FailingAllocations failing(n);
            completion = performTask(TASK_EXTRACT_SELECTED, std::move(args), taskProcedureOf(TASK_EXTRACT_SELECTED),
                                     listener);
            reached = failing.reached();
        }
        if (!completion.outcome) {
            EXPECT_EQ(completion.outcome.reason().cause, Cause::OUT_OF_MEMORY);
        }
        for (const RecordedReport& report : listener.reports()) {
            if (report.kind == Report::ITEM_FAILED) {
                EXPECT_EQ(report.reason.cause, Cause::OUT_OF_MEMORY) << describe(report);
            }
        }
        if (!reached) {
            EXPECT_TRUE(completion.outcome);
            finished = true;
            break;
        }
    }
    EXPECT_TRUE(finished);
}
