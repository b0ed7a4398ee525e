#include "archive/ops/merge.h"

#include <memory>

#include "archive/base/progress_sink.h"
#include "archive/model/archive.h"
#include "archive/ops/entry_data.h"

Outcome mergeArchive(GrfArchive& archive, const std::u16string& otherPath, ProgressSink& progress) {
    const auto other = std::make_shared<GrfArchive>();
    // Only read: a source on a read-only medium, or one another program reads, merges as well.
    if (Outcome opened = other->openForReading(otherPath); !opened) {
        return archive.fail(std::move(opened).takeReason());
    }
    // The imported entries share the other archive; with none of them it closes on return.
    for (const auto& entry : other->storedEntries()) {
        // Data that are not there would fail the whole save later, far from their cause.
        EntryData data;
        if (!storedBytesInFile(*entry, data)) {
            FailureReason reason = entryFailure(*entry, data, false);
            reason.operation = Operation::ADD;
            progress.reportItemFailure(reason);
            continue;
        }
        archive.importEntry(shareEntry(other, entry.get()));
    }
    return {};
}
