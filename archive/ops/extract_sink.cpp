#include "archive/ops/extract_sink.h"

#include <new>

#include "archive/base/result_codes.h"

namespace {

// A failed write, close or move of `target`: what was written goes, so that nothing short passes
// for the entry's data, and an earlier file at the path stays as it was.
FailureReason discardOutput(platform::OutputFile& target, const std::u16string& targetPath, Operation operation) {
    target.discard();
    const int systemError = target.lastSystemError();
    if (systemError == 0) return ruleFailure(RESULT_OPEN_FAILED, operation, Cause::WRITE_ERROR, targetPath);
    return systemFailure(RESULT_OPEN_FAILED, operation, systemError, targetPath, target.heldByOther());
}

}  // namespace

FailureReason FileSink::open() {
    if (file.create(path) == 0) return {};
    return systemFailure(RESULT_OPEN_FAILED, Operation::CREATE, file.lastSystemError(), path, file.heldByOther());
}

FailureReason FileSink::write(std::span<const uint8_t> bytes) {
    if (file.write(bytes.data(), bytes.size())) return {};
    return discardOutput(file, path, Operation::WRITE);
}

FailureReason FileSink::commit() {
    if (file.commit()) return {};
    // The close or the move over an earlier file, which OutputFile already undid.
    return discardOutput(file, path, file.failedToReplace() ? Operation::RENAME : Operation::CLOSE);
}

FailureReason MemorySink::open() {
    bytes.clear();
    return {};
}

FailureReason MemorySink::write(std::span<const uint8_t> piece) {
    try {
        bytes.insert(bytes.end(), piece.begin(), piece.end());
    } catch (const std::bad_alloc&) {
        return memoryFailure(RESULT_BAD_DATA, Operation::EXTRACT);
    }
    return {};
}
