#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "archive/base/progress_sink.h"

// Stops the run at once so the fuzzer (or the replay test) reports the input that got here.
#define FUZZ_CHECK(condition)                                                                  \
    do {                                                                                       \
        if (!(condition)) fuzzFailure(#condition, __FILE__, __LINE__);                         \
    } while (0)

[[noreturn]] void fuzzFailure(const char* what, const char* file, int line);

// A directory of this process's own, removed at exit. Fuzzers run many processes side by side,
// so each gets its own.
const std::filesystem::path& scratchRoot();
// `relative` (slash-separated) below the scratch directory, as the system spells it.
std::filesystem::path scratchPath(const std::string& relative);
// The same in the core's form: UTF-16 with backslashes.
std::u16string scratchCorePath(const std::string& relative);
// A path the core built, as the system spells it.
std::filesystem::path systemPath(const std::u16string& corePath);
// Writes the bytes as the file `relative` below the scratch directory.
void writeScratchFile(const std::string& relative, const uint8_t* data, size_t size);

// Swallows progress; the fuzzers only care that the calls are made safely.
class QuietProgress : public ProgressSink {
public:
    void reportStatus(const char16_t* text) override;
    void reportProgress(uint32_t bytes, bool commit) override;

    uint64_t statusCount = 0;
};
