// Extracts every entry of arbitrary bytes into a directory, then checks that nothing appeared
// anywhere else and that each success wrote exactly the entry's bytes.
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

#include "archive/model/archive.h"
#include "archive/ops/extract_batch.h"
#include "archive/base/result_codes.h"
#include "fuzz/fuzz_support.h"
#include "platform/disk_ops.h"

namespace fs = std::filesystem;

namespace {

// Enough to reach every code path; a table of thousands would only slow the run down.
constexpr size_t MAX_ENTRIES_EXTRACTED = 64;

const std::string ARCHIVE_NAME = "in.grf";
const std::string BOX = "box";          // holds the target, so a climb of one level lands in it
const std::string TARGET = "box/out";

void resetTarget() {
    std::error_code ignored;
    fs::remove_all(scratchPath(TARGET), ignored);
    fs::create_directories(scratchPath(TARGET));
}

// Everything below the scratch directory must be the archive, the box or inside the target.
void checkNothingOutsideTarget() {
    const fs::path& root = scratchRoot();
    const fs::path target = scratchPath(TARGET);
    for (auto item = fs::recursive_directory_iterator(root); item != fs::recursive_directory_iterator(); ++item) {
        const fs::path& path = item->path();
        if (path == scratchPath(ARCHIVE_NAME) || path == scratchPath(BOX)) continue;
        if (path == target) {
            item.disable_recursion_pending();
            continue;
        }
        std::fprintf(stderr, "created outside the target: %s\n", path.string().c_str());
        FUZZ_CHECK(!"an entry was written outside the target directory");
    }
    // Nor may anything inside be a link that leads out of it.
    for (const auto& item : fs::recursive_directory_iterator(target)) FUZZ_CHECK(!item.is_symlink());
}

void extractAll(GrfArchive& archive, bool keepDirs, bool useKoreanNames) {
    const std::u16string targetDir = scratchCorePath(TARGET);
    QuietProgress progress;
    const size_t count = std::min(archive.storedEntries().size(), MAX_ENTRIES_EXTRACTED);
    for (size_t i = 0; i < count; ++i) {
        GrfEntry& entry = *archive.storedEntries()[i];
        const uint32_t claimedSize = entry.originalSize();
        archive.lastError.code = 0;
        extractEntries({&entry}, targetDir, keepDirs, useKoreanNames, progress, 0);
        FUZZ_CHECK(progress.statusCount == i + 1);
        if (archive.lastError.code != 0) {
            FUZZ_CHECK(resultText(archive.lastError.code)[0] != 0);
            continue;
        }
        // Success: the file holds what the stream gave, never more than the entry claimed.
        FUZZ_CHECK(entry.originalSize() <= claimedSize);
        std::u16string name = entry.displayName(useKoreanNames);
        if (!keepDirs) name.erase(0, name.find_last_of(u"\\/") + 1);
        const fs::path written = systemPath(targetDir + u"\\" + name);
        std::error_code error;
        FUZZ_CHECK(fs::is_regular_file(written, error));
        FUZZ_CHECK(fs::file_size(written, error) == entry.originalSize());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeScratchFile(ARCHIVE_NAME, data, size);
    GrfArchive archive;
    if (!archive.open(scratchCorePath(ARCHIVE_NAME))) return 0;
    for (const bool korean : {false, true}) {
        resetTarget();
        extractAll(archive, !korean, korean);
        checkNothingOutsideTarget();
    }
    return 0;
}
