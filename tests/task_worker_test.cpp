#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <new>
#include <stdexcept>

#include "archive/base/result_codes.h"
#include "tests/support/recording_listener.h"
#include "worker/task_worker.h"

namespace {

// Procedures are plain function pointers, so each test puts its body here before it signals.
// The event's lock orders the write before the worker's read.
std::function<Outcome(TaskRun&)> probe;

Outcome runProbe(TaskArgs&, TaskRun& run) {
    // A copy: the test may install the next probe as soon as the task finished.
    const auto body = probe;
    return body(run);
}

void installProbes(TaskWorker& worker) {
    for (uint32_t code = 1; code < TASK_CODE_COUNT; ++code) worker.setProcedure(code, runProbe);
}

std::unique_ptr<TaskArgs> newRecord(uint32_t code) {
    if (code == TASK_RECOMPRESS) return std::make_unique<RecompressArgs>();
    return std::make_unique<SaveArgs>();
}

// Runs one probe task on a started worker and waits for it to finish.
void runTask(TaskWorker& worker, RecordingListener& listener, uint32_t code, size_t finishedSoFar,
             std::function<Outcome(TaskRun&)> body) {
    probe = std::move(body);
    worker.startTask(code, newRecord(code));
    ASSERT_TRUE(listener.waitForFinished(finishedSoFar + 1)) << describe(listener.reports());
}

}  // namespace

TEST(TaskWorker, IgnoresCodesWithoutAProcedureAndRunsTheNextTask) {
    RecordingListener listener;
    TaskWorker worker(listener);
    installProbes(worker);
    ASSERT_TRUE(worker.start());
    // Handed over before the real one: whichever the worker took, only the valid task reports.
    for (const uint32_t code : {0u, 8u, 0xFFFFFFFFu}) worker.startTask(code, newRecord(TASK_SAVE));
    runTask(worker, listener, TASK_ADD_DIRECTORY, 0, [](TaskRun&) { return Outcome(); });

    const auto got = listener.reports();
    ASSERT_EQ(got.size(), 2u) << describe(got);
    EXPECT_EQ(got[0].kind, Report::STARTED);
    EXPECT_EQ(got[0].value, TASK_ADD_DIRECTORY);
    EXPECT_EQ(got[1].kind, Report::FINISHED);
}

TEST(TaskWorker, ReportsAbsoluteProgressAndResetsItWithEachTotal) {
    RecordingListener listener;
    TaskWorker worker(listener);
    installProbes(worker);
    ASSERT_TRUE(worker.start());

    runTask(worker, listener, TASK_EXTRACT_ALL, 0, [](TaskRun& run) {
        run.announceTotal(5ull << 30);
        run.reportProgress(4, false);
        run.reportProgress(9, true);
        // Past 32 bits.
        run.reportProgress(0xFFFFFFF0u, true);
        run.reportProgress(0x20, false);
        run.announceTotal(100);
        run.reportProgress(7, true);
        return Outcome();
    });

    const auto got = listener.reports();
    const struct { Report kind; uint64_t value; } want[] = {
        {Report::STARTED, TASK_EXTRACT_ALL}, {Report::TOTAL, 5ull << 30}, {Report::PROGRESS, 4},
        {Report::PROGRESS, 9}, {Report::PROGRESS, 0xFFFFFFF9u}, {Report::PROGRESS, 0x100000019u},
        {Report::TOTAL, 100}, {Report::PROGRESS, 7}, {Report::FINISHED, TASK_EXTRACT_ALL},
    };
    ASSERT_EQ(got.size(), std::size(want)) << describe(got);
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].kind, want[i].kind) << i << "\n" << describe(got);
        EXPECT_EQ(got[i].value, want[i].value) << i << "\n" << describe(got);
    }
}

TEST(TaskWorker, CountsFailedItemsAndHandsTheOutcomeAndRecordBack) {
    RecordingListener listener;
    TaskWorker worker(listener);
    installProbes(worker);
    ASSERT_TRUE(worker.start());

    runTask(worker, listener, TASK_RECOMPRESS, 0, [](TaskRun& run) {
        char16_t name[] = u"data\\a.txt";
        run.reportItemFailure(ruleFailure(RESULT_OPEN_FAILED, Operation::ADD, Cause::NOT_FOUND, name));
        // The listener copied the reason while it lasted.
        name[0] = u'X';
        return Outcome(systemFailure(RESULT_BAD_LENGTH, Operation::WRITE, 28, u"a.grf"));
    });

    auto completions = listener.takeCompletions();
    ASSERT_EQ(completions.size(), 1u);
    const TaskCompletion& done = completions[0];
    EXPECT_EQ(done.code, TASK_RECOMPRESS);
    EXPECT_EQ(done.itemFailures, 1u);
    EXPECT_EQ(done.outcome.code(), RESULT_BAD_LENGTH);
    EXPECT_EQ(done.outcome.reason().cause, Cause::DISK_FULL);
    EXPECT_NE(dynamic_cast<RecompressArgs*>(done.args.get()), nullptr) << "the record comes back";
    const auto got = listener.reports();
    ASSERT_EQ(got.size(), 3u) << describe(got);
    EXPECT_EQ(got[1].text, u"data\\a.txt");
}

TEST(TaskWorker, TaskThatThrowsFinishesWithWhatWasThrown) {
    const struct {
        const char* what;
        std::function<Outcome(TaskRun&)> body;
        Cause expected;
    } cases[] = {
        {"allocation fails", [](TaskRun&) -> Outcome { throw std::bad_alloc(); }, Cause::OUT_OF_MEMORY},
        {"another exception", [](TaskRun&) -> Outcome { throw std::runtime_error("disk gone"); }, Cause::INTERNAL_ERROR},
        {"not even an exception", [](TaskRun&) -> Outcome { throw 42; }, Cause::INTERNAL_ERROR},
    };
    RecordingListener listener;
    TaskWorker worker(listener);
    installProbes(worker);
    ASSERT_TRUE(worker.start());
    size_t finished = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        runTask(worker, listener, TASK_SAVE, finished++, c.body);
        const auto completions = listener.takeCompletions();
        ASSERT_EQ(completions.size(), 1u);
        EXPECT_FALSE(completions[0].outcome.ok());
        EXPECT_EQ(completions[0].outcome.reason().cause, c.expected);
        EXPECT_NE(completions[0].args, nullptr);
    }
    // The worker went back to waiting and runs the next task.
    runTask(worker, listener, TASK_ADD_DIRECTORY, finished, [](TaskRun&) { return Outcome(); });
}

TEST(TaskWorker, StopEndsAnIdleWorkerAndAgainDoesNothing) {
    RecordingListener listener;
    TaskWorker worker(listener);
    ASSERT_TRUE(worker.start());
    worker.stop();
    worker.stop();
    EXPECT_TRUE(listener.reports().empty());
}
