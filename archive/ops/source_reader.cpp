#include "archive/ops/source_reader.h"

#include "archive/base/result_codes.h"
#include "archive/format/entry_record.h"

FailureReason SourceReader::open(const std::u16string& path) {
    filePath = path;
    length = 0;
    position = 0;
    if (const int error = file.open(path); error != 0) {
        return systemFailure(RESULT_OPEN_FAILED, Operation::OPEN, error, path, file.heldByOther());
    }
    length = file.size();
    return {};
}

FailureReason SourceReader::read(uint8_t* buffer, size_t count) {
    if (file.readAt(position, buffer, count) == count) {
        position += count;
        return {};
    }
    return fileFailure(RESULT_OPEN_FAILED, Operation::READ, file.lastSystemError(), filePath);
}

FailureReason SourceReader::checkEntrySize() const {
    // An entry's sizes are 32-bit fields of its record.
    if (length > MAX_POSITION) return ruleFailure(RESULT_OPEN_FAILED, Operation::ADD, Cause::FILE_TOO_LARGE, filePath);
    return {};
}
