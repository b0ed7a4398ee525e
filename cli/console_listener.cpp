#include "cli/console_listener.h"

void ConsoleListener::taskStarted(uint32_t) {
    bar.begin();
}

void ConsoleListener::taskTotal(uint64_t bytes) {
    bar.setTotal(bytes);
}

void ConsoleListener::taskStatus(const char16_t* text) {
    if (onStatus && text) onStatus(text);
    if (showStatus) bar.setStatus(text ? text : u"");
}

void ConsoleListener::taskProgress(uint64_t done) {
    if (onProgress) onProgress();
    bar.setDone(done);
}

void ConsoleListener::itemFailed(const FailureReason& reason) {
    if (!onItemFailed) return;
    bar.clear();
    onItemFailed(reason);
}

void ConsoleListener::taskFinished(TaskCompletion) {
    bar.end();
}
