#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "archive/failure_reason.h"

class GrfArchive;
class GrfEntry;

// Argument records: the window allocates one with new, fills it and hands it over with the signal.
// The worker deletes records 1 to 6 after posting WM_TASK_FINISHED; RecompressArgs travels back
// as that message's lParam and the window deletes it. Archive and entry pointers are not owned.

struct ExtractOneArgs {
    GrfEntry* entry = nullptr;
    std::u16string targetPath;
};

struct ExtractListArgs {
    int32_t keepDirs = 1;
    int32_t useKoreanNames = 0;
    std::vector<GrfEntry*> selection;  // in list order
    std::u16string targetDir;
};

struct ExtractAllArgs {
    int32_t keepDirs = 1;
    int32_t useKoreanNames = 0;
    GrfArchive* archive = nullptr;
    std::u16string targetDir;
};

struct AddDirectoryArgs {
    int32_t useKoreanNames = 0;
    GrfArchive* archive = nullptr;
    std::u16string directory;
};

struct AddArchiveArgs {
    GrfArchive* archive = nullptr;
    std::u16string otherPath;
};

struct SaveArgs {
    int32_t useKoreanNames = 0;
    int32_t level = 6;
    GrfArchive* archive = nullptr;
};

struct RecompressArgs {
    int32_t useKoreanNames = 0;
    int32_t level = 6;
    GrfArchive* archive = nullptr;
    GrfArchive* resultArchive = nullptr;  // output: the archive the window continues with
    int32_t error = 0;                    // output: result code
    // Output: the rewritten archive is in place but did not open again (a success all the same;
    // resultArchive then has no file); its code, or 0.
    int32_t reopenError = 0;
    FailureReason reason;                 // output: the whole story of error or reopenError
};
