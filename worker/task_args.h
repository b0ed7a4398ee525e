#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "archive/base/failure_reason.h"

class GrfArchive;
class ExtractSink;
class GrfEntry;

// Argument records: the window fills one and hands it over with the task (TaskWorker::startTask);
// it comes back with the task's completion. Archive and entry pointers are not owned, except
// where a field says so.
struct TaskArgs {
    TaskArgs() = default;
    TaskArgs(const TaskArgs&) = delete;
    TaskArgs& operator=(const TaskArgs&) = delete;
    virtual ~TaskArgs() = default;
};

struct ExtractOneArgs final : TaskArgs {
    GrfEntry* entry = nullptr;
    std::u16string targetPath;     // the file written, or what the status names for `sink`
    ExtractSink* sink = nullptr;   // when set, the bytes go here (standard output) instead
};

struct ExtractListArgs final : TaskArgs {
    int32_t keepDirs = 1;
    int32_t useKoreanNames = 0;
    std::vector<GrfEntry*> selection;  // in list order
    std::u16string targetDir;
};

struct ExtractAllArgs final : TaskArgs {
    int32_t keepDirs = 1;
    int32_t useKoreanNames = 0;
    GrfArchive* archive = nullptr;
    std::u16string targetDir;
};

struct AddDirectoryArgs final : TaskArgs {
    int32_t useKoreanNames = 0;
    // Set when a save follows at once (the command line): small files are read as they are
    // added, and each is opened once instead of twice. The window's save comes later and takes
    // the files as they are by then.
    int32_t readSmallFilesNow = 0;
    GrfArchive* archive = nullptr;
    std::u16string directory;
};

struct AddArchiveArgs final : TaskArgs {
    GrfArchive* archive = nullptr;
    std::u16string otherPath;
};

struct SaveArgs final : TaskArgs {
    int32_t useKoreanNames = 0;
    int32_t level = 6;
    GrfArchive* archive = nullptr;
};

struct RecompressArgs final : TaskArgs {
    RecompressArgs();
    ~RecompressArgs() override;

    int32_t useKoreanNames = 0;
    int32_t level = 6;
    // Owned: the task takes it over and destroys it once the rewritten file replaces it.
    std::unique_ptr<GrfArchive> archive;
    std::unique_ptr<GrfArchive> resultArchive;  // output: the archive the window continues with
    // Output: the archive on its path did not open again (resultArchive then has no file). After
    // a rewrite that is a success all the same.
    FailureReason reopenFailure;
};
