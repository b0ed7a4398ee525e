#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "archive/base/failure_reason.h"
#include "platform/output_file.h"

// Where one extracted entry's bytes go: a file, standard output, memory. It is opened only when
// the bytes are there to write (a whole entry inflated, or a streamed one's first piece), so a
// damaged entry leaves nothing behind; a failed or damaged entry is discarded.
class ExtractSink {
public:
    virtual ~ExtractSink() = default;
    [[nodiscard]] virtual FailureReason open() = 0;
    [[nodiscard]] virtual FailureReason write(std::span<const uint8_t> bytes) = 0;
    // The entry is whole: it shows where it goes only now.
    [[nodiscard]] virtual FailureReason commit() = 0;
    virtual void discard() = 0;
};

// A file at `path`, shown under its name only whole (platform::OutputFile): failures carry
// RESULT_OPEN_FAILED, the operation (CREATE, WRITE, CLOSE, or RENAME over an earlier file), the
// system's error and the path.
class FileSink final : public ExtractSink {
public:
    explicit FileSink(std::u16string path) : path(std::move(path)) {}
    FailureReason open() override;
    FailureReason write(std::span<const uint8_t> bytes) override;
    FailureReason commit() override;
    void discard() override { file.discard(); }

private:
    const std::u16string path;
    platform::OutputFile file;
};

// The bytes in memory, for a caller that shows or compares them.
class MemorySink final : public ExtractSink {
public:
    FailureReason open() override;
    FailureReason write(std::span<const uint8_t> piece) override;
    FailureReason commit() override { return {}; }
    void discard() override { bytes.clear(); }

    std::vector<uint8_t> bytes;
};
