#include "tests/support/recording_listener.h"

#include <utility>

void RecordingListener::record(RecordedReport report) {
    {
        const std::lock_guard lock(mutex);
        recorded.push_back(report);
    }
    if (onReport) onReport(report);
}

void RecordingListener::taskStarted(uint32_t code) {
    record({Report::STARTED, code, {}, {}});
}

void RecordingListener::taskTotal(uint64_t bytes) {
    record({Report::TOTAL, bytes, {}, {}});
}

void RecordingListener::taskStatus(const char16_t* text) {
    record({Report::STATUS, 0, text != nullptr ? text : u"", {}});
}

void RecordingListener::taskProgress(uint64_t done) {
    record({Report::PROGRESS, done, {}, {}});
}

void RecordingListener::itemFailed(const FailureReason& reason) {
    record({Report::ITEM_FAILED, 0, reason.subject, reason});
}

void RecordingListener::taskFinished(TaskCompletion completion) {
    record({Report::FINISHED, completion.code, {}, completion.outcome.reason()});
    const std::lock_guard lock(mutex);
    completions.push_back(std::move(completion));
    ++finishedCount;
    changed.notify_all();
}

bool RecordingListener::waitForFinished(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [&] { return finishedCount >= count; });
}

std::vector<RecordedReport> RecordingListener::reports() const {
    const std::lock_guard lock(mutex);
    return recorded;
}

std::vector<TaskCompletion> RecordingListener::takeCompletions() {
    const std::lock_guard lock(mutex);
    return std::exchange(completions, {});
}

std::string describe(const RecordedReport& report) {
    static const char* const NAMES[] = {"STARTED", "TOTAL", "STATUS", "PROGRESS", "ITEM_FAILED", "FINISHED"};
    std::string line = std::string(NAMES[int(report.kind)]) + " " + std::to_string(report.value);
    if (!report.text.empty()) {
        line += " \"";
        for (const char16_t unit : report.text) line += unit < 0x80 ? static_cast<char>(unit) : '?';
        line += "\"";
    }
    if (report.reason.failed()) line += " code " + std::to_string(report.reason.code) + ": " + causeText(report.reason);
    return line;
}

std::string describe(const std::vector<RecordedReport>& reports) {
    std::string lines;
    for (const auto& report : reports) lines += describe(report) + "\n";
    return lines;
}
