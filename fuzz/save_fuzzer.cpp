// Opens arbitrary bytes, makes a few edits (delete, rename, add a disk file, take entries from a
// second copy of the same bytes), saves and reopens: the reopened table must be the edited one.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "archive/ops/extract_batch.h"
#include "archive/ops/save.h"
#include "archive/ops/merge.h"
#include "archive/model/archive.h"
#include "archive/ops/extract.h"
#include "archive/base/result_codes.h"
#include "fuzz/fuzz_support.h"

namespace {

// Each entry taken from the copy is inflated and deflated again; a few are enough.
constexpr size_t MAX_ENTRIES = 64;
constexpr size_t MAX_IMPORTED = 3;

const std::string ADDED_TEXT = "the bytes of the added file, the bytes of the added file\n";

struct Expected {
    std::string name;
    bool fromDisk = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeScratchFile("in.grf", data, size);
    writeScratchFile("copy.grf", data, size);
    writeScratchFile("added.txt", reinterpret_cast<const uint8_t*>(ADDED_TEXT.data()), ADDED_TEXT.size());

    std::vector<Expected> expected;
    {
        GrfArchive archive;
        if (!archive.open(scratchCorePath("in.grf")) || archive.storedEntries().size() > MAX_ENTRIES) return 0;
        const size_t count = archive.storedEntries().size();
        if (count > 0) archive.markDeleted(*archive.storedEntries()[0]);
        if (count > 1) archive.storedEntries()[1]->rename("data\\renamed by the fuzzer.txt");

        GrfEntry* added = archive.addFile("data\\added.txt", scratchCorePath("added.txt"), uint32_t(ADDED_TEXT.size()));

        // A second archive lending a few entries, as a merge does; the borrowing entries keep it alive.
        const auto lender = std::make_shared<GrfArchive>();
        if (lender->open(scratchCorePath("copy.grf"))) {
            const auto& lent = lender->storedEntries();
            for (size_t i = 0; i < std::min(lent.size(), MAX_IMPORTED); ++i) {
                archive.importEntry(shareEntry(lender, lent[lent.size() - 1 - i].get()));
            }
        }

        QuietProgress progress;
        if (!saveArchive(archive, 6, false, progress)) {
            FUZZ_CHECK(archive.lastError.code < 0 && resultText(archive.lastError.code)[0] != 0);
        } else {
            // In the order the save left them, which is the order of the new table.
            for (const auto* list : {&archive.storedEntries(), &archive.pendingEntries()}) {
                for (const auto& entry : *list) {
                    if (entry->state() != ENTRY_DELETED) expected.push_back({entry->name(), entry.get() == added});
                }
            }
        }
    }

    // Saved or not, the file must still open: a failed save keeps the previous table.
    GrfArchive reopened;
    FUZZ_CHECK(reopened.open(scratchCorePath("in.grf")));
    if (expected.empty()) return 0;
    FUZZ_CHECK(reopened.version() == 2);
    FUZZ_CHECK(reopened.storedEntries().size() == expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        GrfEntry& entry = *reopened.storedEntries()[i];
        FUZZ_CHECK(entry.name() == expected[i].name);
        if (!expected[i].fromDisk) continue;
        // The added file reads back byte for byte.
        QuietProgress progress;
        FUZZ_CHECK(extractEntry(entry, scratchCorePath("added.out"), progress));
        FUZZ_CHECK(entry.originalSize() == ADDED_TEXT.size());
        std::ifstream file(scratchPath("added.out"), std::ios::binary);
        const std::string back{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        FUZZ_CHECK(back == ADDED_TEXT);
    }
    return 0;
}
