#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <thread>

#include "tests/support/recording_channel.h"
#include "worker/task_worker.h"

using namespace std::chrono_literals;

namespace {

// Procedures are plain function pointers, so each test puts its body here before it signals.
// The event's lock orders the write before the worker's read.
std::function<void(TaskWorker&)> probe;

void runProbe(TaskWorker& worker) {
    // A copy: the test may install the next probe as soon as WM_TASK_FINISHED arrives,
    // while this one is still returning.
    const auto body = probe;
    body(worker);
}

void installProbes(TaskWorker& worker) {
    for (uint32_t code = 1; code < TASK_CODE_COUNT; ++code) {
        worker.procedures[code] = runProbe;
    }
}

// A record of the right type for `code`, as the window would make it.
std::unique_ptr<TaskArgs> newRecord(uint32_t code) {
    switch (code) {
    case TASK_EXTRACT_ONE: {
        auto record = std::make_unique<ExtractOneArgs>();
        record->targetPath = u"target";
        return record;
    }
    case TASK_EXTRACT_SELECTED: {
        auto record = std::make_unique<ExtractListArgs>();
        record->selection.assign(3, nullptr);
        return record;
    }
    case TASK_EXTRACT_ALL: return std::make_unique<ExtractAllArgs>();
    case TASK_ADD_DIRECTORY: return std::make_unique<AddDirectoryArgs>();
    case TASK_ADD_ARCHIVE: return std::make_unique<AddArchiveArgs>();
    case TASK_SAVE: return std::make_unique<SaveArgs>();
    case TASK_RECOMPRESS: return std::make_unique<RecompressArgs>();
    default: return nullptr;
    }
}

struct Expected {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
};

void expectMessages(const std::vector<RecordedMessage>& got, const std::vector<Expected>& want) {
    ASSERT_EQ(got.size(), want.size()) << describe(got);
    for (size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].message, want[i].message) << "message " << i << "\n" << describe(got);
        EXPECT_EQ(got[i].wParam, want[i].wParam) << "message " << i << "\n" << describe(got);
        EXPECT_EQ(got[i].lParam, want[i].lParam) << "message " << i << "\n" << describe(got);
    }
}

// Runs one probe task on a started worker and waits for its WM_TASK_FINISHED.
void runTask(TaskWorker& worker, RecordingChannel& channel, uint32_t code, size_t finishedSoFar,
             std::function<void(TaskWorker&)> body) {
    probe = std::move(body);
    worker.startTask(code, newRecord(code));
    ASSERT_TRUE(channel.waitForFinished(finishedSoFar + 1)) << describe(channel.messages());
}

}  // namespace

TEST(TaskWorker, IgnoresSignalsWithCodesOutsideTheTable) {
    RecordingChannel channel;
    TaskWorker worker(channel);
    installProbes(worker);
    ASSERT_TRUE(worker.start());
    std::atomic<int> probeRuns{0};
    probe = [&](TaskWorker&) { ++probeRuns; };

    for (const uint32_t code : {0u, 8u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(code);
        worker.startTask(code, nullptr);
        // Several wait periods, so the worker has surely taken this signal before the next one.
        std::this_thread::sleep_for(3 * std::chrono::milliseconds(WAKE_TIMEOUT_MS));
    }
    EXPECT_EQ(probeRuns.load(), 0);
    EXPECT_TRUE(channel.messages().empty()) << describe(channel.messages());

    // Still idle and listening.
    runTask(worker, channel, TASK_ADD_DIRECTORY, 0, [](TaskWorker& w) {
        w.sendStarted(TASK_ADD_DIRECTORY);
        finishTask(w, TASK_ADD_DIRECTORY, 0);
    });
    expectMessages(channel.messages(), {{WM_TASK_STARTED, 4, 0}, {WM_TASK_FINISHED, 4, 0}});
}

TEST(TaskWorker, ReportsAbsoluteProgressSplitIntoHalves) {
    RecordingChannel channel;
    TaskWorker worker(channel);
    installProbes(worker);
    ASSERT_TRUE(worker.start());
    uint64_t doneAfterEntry = 0;
    uint64_t doneAfterCarry = 0;

    runTask(worker, channel, TASK_EXTRACT_ALL, 0, [&](TaskWorker& w) {
        w.sendStarted(TASK_EXTRACT_ALL);
        w.progressTotal = 5ull << 30;
        w.sendTotal();
        w.progressTotal = 100;
        w.sendTotal();
        w.progressDone = 10;
        w.reportProgress(4, false);
        w.reportProgress(9, false);
        w.reportProgress(9, true);
        doneAfterEntry = w.progressDone;
        // The commit carries into the high half.
        w.progressDone = 0xFFFFFFF0u;
        w.reportProgress(0x20, false);
        w.reportProgress(0x20, true);
        doneAfterCarry = w.progressDone;
        finishTask(w, TASK_EXTRACT_ALL, 0);
    });

    expectMessages(channel.messages(), {
        {WM_TASK_STARTED, 3, 0},
        {WM_TASK_TOTAL, 1, intptr_t(1) << 30},
        {WM_TASK_TOTAL, 0, 100},
        {WM_TASK_PROGRESS, 0, 14},
        {WM_TASK_PROGRESS, 0, 19},
        {WM_TASK_PROGRESS, 0, 19},
        {WM_TASK_PROGRESS, 1, 0x10},
        {WM_TASK_PROGRESS, 1, 0x10},
        {WM_TASK_FINISHED, 3, 0},
    });
    EXPECT_EQ(doneAfterEntry, 19u);
    EXPECT_EQ(doneAfterCarry, 0x100000010u);
}

TEST(TaskWorker, LeavesCountersOfThePreviousTaskAlone) {
    RecordingChannel channel;
    TaskWorker worker(channel);
    installProbes(worker);
    ASSERT_TRUE(worker.start());

    runTask(worker, channel, TASK_SAVE, 0, [](TaskWorker& w) {
        w.sendStarted(TASK_SAVE);
        w.progressTotal = 20;
        w.reportProgress(10, true);
        finishTask(w, TASK_SAVE, 0);
    });
    // The adding tasks neither reset nor send them; the loop must not either.
    uint64_t seenDone = 0;
    uint64_t seenTotal = 0;
    runTask(worker, channel, TASK_ADD_ARCHIVE, 1, [&](TaskWorker& w) {
        seenDone = w.progressDone;
        seenTotal = w.progressTotal;
        w.sendStarted(TASK_ADD_ARCHIVE);
        finishTask(w, TASK_ADD_ARCHIVE, 0);
    });
    EXPECT_EQ(seenDone, 10u);
    EXPECT_EQ(seenTotal, 20u);
}

TEST(TaskWorker, SendReturnsOnlyAfterTheWindowHandledIt) {
    RecordingChannel channel;
    std::atomic<bool> statusHandled{false};
    channel.onMessage = [&](const RecordedMessage& message) {
        if (message.message == WM_TASK_STATUS) {
            // A slow window: the worker must still be waiting when this returns.
            std::this_thread::sleep_for(50ms);
            statusHandled = true;
        }
    };
    TaskWorker worker(channel);
    installProbes(worker);
    ASSERT_TRUE(worker.start());
    bool handledWhenSendReturned = false;

    runTask(worker, channel, TASK_EXTRACT_ONE, 0, [&](TaskWorker& w) {
        w.sendStarted(TASK_EXTRACT_ONE);
        w.reportProgress(1, false);
        char16_t text[] = u"data\\a.txt";
        w.reportStatus(text);
        handledWhenSendReturned = statusHandled.load();
        // The window copied the text while handling it; overwriting it now changes nothing.
        text[0] = u'X';
        w.reportProgress(2, true);
        w.sendTotal();
        finishTask(w, TASK_EXTRACT_ONE, -1003);
    });

    EXPECT_TRUE(handledWhenSendReturned);
    const auto got = channel.messages();
    // Posted and sent messages arrive in the order of the calls.
    ASSERT_EQ(got.size(), 6u) << describe(got);
    const uint32_t order[] = {WM_TASK_STARTED, WM_TASK_PROGRESS, WM_TASK_STATUS,
                              WM_TASK_PROGRESS, WM_TASK_TOTAL, WM_TASK_FINISHED};
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].message, order[i]) << describe(got);
    }
    EXPECT_TRUE(got[2].sent);
    EXPECT_FALSE(got[3].sent);
    EXPECT_EQ(got[2].text, u"data\\a.txt");
    EXPECT_EQ(got[5].lParam, -1003);
}

TEST(TaskWorker, TaskThatThrowsOrForgetsToFinishStillFinishes) {
    const struct {
        const char* what;
        uint32_t code;
        std::function<void(TaskWorker&)> body;
        size_t expectedMessages;  // STARTED where sent, then exactly one FINISHED
        intptr_t expectedResult;
    } cases[] = {
        {"allocation fails before anything is sent", TASK_EXTRACT_ONE,
         [](TaskWorker&) { throw std::bad_alloc(); }, 1, RESULT_TASK_ABORTED},
        {"exception in the middle of the work", TASK_EXTRACT_SELECTED,
         [](TaskWorker& w) {
             w.sendStarted(TASK_EXTRACT_SELECTED);
             throw std::runtime_error("disk gone");
         },
         2, RESULT_TASK_ABORTED},
        {"exception after finishing posts nothing more", TASK_SAVE,
         [](TaskWorker& w) {
             w.sendStarted(TASK_SAVE);
             finishTask(w, TASK_SAVE, -1005);
             throw 42;
         },
         2, -1005},
        {"procedure returns without finishing", TASK_ADD_ARCHIVE,
         [](TaskWorker& w) { w.sendStarted(TASK_ADD_ARCHIVE); }, 2, RESULT_TASK_ABORTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingChannel channel;
        TaskWorker worker(channel);
        installProbes(worker);
        ASSERT_TRUE(worker.start());

        runTask(worker, channel, c.code, 0, c.body);
        // Give a second FINISHED the chance to show up before we count.
        std::this_thread::sleep_for(20ms);
        auto got = channel.messages();
        ASSERT_EQ(got.size(), c.expectedMessages) << describe(got);
        EXPECT_EQ(got.back().message, WM_TASK_FINISHED);
        EXPECT_EQ(got.back().wParam, c.code);
        EXPECT_EQ(got.back().lParam, c.expectedResult);

        // The worker went back to waiting and runs the next task.
        runTask(worker, channel, TASK_ADD_DIRECTORY, 1, [](TaskWorker& w) {
            w.sendStarted(TASK_ADD_DIRECTORY);
            finishTask(w, TASK_ADD_DIRECTORY, 0);
        });
        EXPECT_EQ(channel.messages().size(), c.expectedMessages + 2);
    }
}

TEST(TaskWorker, RecompressRecordTravelsBackWithTheError) {
    RecordingChannel channel;
    TaskWorker worker(channel);
    installProbes(worker);
    ASSERT_TRUE(worker.start());

    for (const bool throws : {false, true}) {
        SCOPED_TRACE(throws);
        auto owned = std::make_unique<RecompressArgs>();
        RecompressArgs* const record = owned.get();
        probe = [throws](TaskWorker& w) {
            w.sendStarted(TASK_RECOMPRESS);
            if (throws) {
                throw std::bad_alloc();
            }
            finishTask(w, TASK_RECOMPRESS, -1004);
        };
        const size_t before = channel.messages().size();
        worker.startTask(TASK_RECOMPRESS, std::move(owned));
        ASSERT_TRUE(channel.waitForFinished(throws ? 2 : 1));
        const auto got = channel.messages();
        ASSERT_EQ(got.size(), before + 2) << describe(got);
        EXPECT_EQ(got.back().wParam, TASK_RECOMPRESS);
        // The window owns the record from here on.
        ASSERT_EQ(got.back().lParam, reinterpret_cast<intptr_t>(record));
        const std::unique_ptr<RecompressArgs> back(record);
        EXPECT_EQ(back->error, throws ? RESULT_TASK_ABORTED : -1004);
    }
}

TEST(TaskWorker, StopsAnIdleWorkerWithinAboutOneWait) {
    RecordingChannel channel;
    TaskWorker worker(channel);
    ASSERT_TRUE(worker.start());
    std::this_thread::sleep_for(30ms);

    const auto before = std::chrono::steady_clock::now();
    worker.stop();
    const auto took = std::chrono::steady_clock::now() - before;
    EXPECT_FALSE(worker.thread.joinable());
    // One time-out is 100 ms; the bound leaves room for a loaded machine.
    EXPECT_LT(took, 1s);
}

TEST(TaskWorker, EndsWithoutWaitingWhenTheCounterIsAlreadyZero) {
    RecordingChannel channel;
    TaskWorker worker(channel);
    installProbes(worker);
    std::atomic<int> probeRuns{0};
    probe = [&](TaskWorker& w) {
        ++probeRuns;
        finishTask(w, TASK_ADD_DIRECTORY, 0);
    };
    // A pending signal: a worker that waited even once would take it and run the probe.
    worker.startTask(TASK_ADD_DIRECTORY, newRecord(TASK_ADD_DIRECTORY));
    worker.running = 0;
    ASSERT_TRUE(worker.start());
    worker.thread.join();

    EXPECT_EQ(probeRuns.load(), 0);
    EXPECT_TRUE(channel.messages().empty());
    EXPECT_TRUE(worker.wakeEvent.wait(0)) << "the signal should still be pending";
}
