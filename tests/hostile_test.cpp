// Archives that claim sizes no file can hold. Each must fail with its result code, or succeed
// with what the file really holds, without ever allocating what it claims.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include "archive/ops/extract_batch.h"
#include "archive/ops/save.h"
#include "archive/ops/merge.h"
#include "archive/model/archive.h"
#include "archive/base/progress_sink.h"
#include "archive/base/result_codes.h"
#include "tests/support/archive_writer.h"
#include "tests/support/temp_dir.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#include <unistd.h>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define QUARNEL_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARNEL_SANITIZED 1
#endif
#endif

namespace {

class QuietSink : public ProgressSink {
public:
    void reportStatus(const char16_t*) override {}
    void reportProgress(uint32_t, bool) override {}
};

constexpr uint64_t HEADROOM_BYTES = uint64_t(1) << 30;

// Caps this process's address space at its present size plus 1 GiB while it lives, so that any
// allocation of a claimed 4 GiB fails instead of passing unnoticed through overcommit.
// AddressSanitizer reserves terabytes of shadow, so under it (and on Windows) there is no cap.
class AddressSpaceLimit {
public:
    AddressSpaceLimit() {
#if !defined(_WIN32) && !defined(QUARNEL_SANITIZED)
        std::ifstream statm("/proc/self/statm");
        uint64_t pages = 0;
        if (!(statm >> pages) || getrlimit(RLIMIT_AS, &previous) != 0) return;
        rlimit capped = previous;
        capped.rlim_cur = rlim_t(pages * uint64_t(sysconf(_SC_PAGESIZE)) + HEADROOM_BYTES);
        if (previous.rlim_cur != RLIM_INFINITY && previous.rlim_cur < capped.rlim_cur) return;
        active = setrlimit(RLIMIT_AS, &capped) == 0;
#endif
    }
    ~AddressSpaceLimit() {
#if !defined(_WIN32) && !defined(QUARNEL_SANITIZED)
        if (active) setrlimit(RLIMIT_AS, &previous);
#endif
    }
    AddressSpaceLimit(const AddressSpaceLimit&) = delete;
    AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;

    bool active = false;

private:
#if !defined(_WIN32) && !defined(QUARNEL_SANITIZED)
    rlimit previous{};
#endif
};

std::vector<uint8_t> readBack(const TempDir& dir, const std::u16string& name) {
    std::ifstream file(dir.native(name), std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

}  // namespace

TEST(HostileSizes, FourGiBClaimsAreNeverAllocated) {
    const auto data = sampleData(3000, 5);
    const struct {
        const char* what;
        TestArchive writer;
        int expected;  // 0: extracts the real bytes
    } cases[] = {
        {"originalSize 4 GiB", TestArchive().add("data\\a.txt", data).originalSize(0xFFFFFFFFu), 0},
        {"storedSize 4 GiB", TestArchive().add("data\\a.txt", data).storedSize(0xFFFFFFFFu), RESULT_BAD_LENGTH},
        {"both sizes 4 GiB", TestArchive().add("data\\a.txt", data).storedSize(0xFFFFFFFFu).originalSize(0xFFFFFFFFu),
         RESULT_BAD_LENGTH},
        {"compressedSize 4 GiB", TestArchive().add("data\\a.txt", data).compressedSize(0xFFFFFFFFu).originalSize(0xFFFFFFFFu),
         RESULT_BAD_DATA},
        {"legacy originalSize 4 GiB", TestArchive().legacy().add("data\\a.bmp", data).originalSize(0xFFFFFFFFu), 0},
        {"table claims 4 GiB", TestArchive().add("data\\a.txt", data).damage(Damage::claimTableSize(0xFFFFFFFFu)), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const auto path = c.writer.writeTo(dir);
        GrfArchive archive;
        QuietSink sink;
        bool extracted = false;
        {
            const AddressSpaceLimit limit;
            ASSERT_TRUE(archive.open(path)) << describe(archive);
            ASSERT_EQ(archive.storedEntries().size(), 1u);
            extracted = extractEntry(*archive.storedEntries()[0], dir.file(u"out"), sink).ok();
        }
        if (c.expected != 0) {
            EXPECT_FALSE(extracted);
            EXPECT_EQ(archive.lastError.code, c.expected) << describe(archive);
            continue;
        }
        ASSERT_TRUE(extracted) << describe(archive);
        EXPECT_EQ(readBack(dir, u"out"), data);
        EXPECT_EQ(archive.storedEntries()[0]->originalSize(), data.size());
    }
}

// Found by fuzzing the save: an entry lent by another archive claimed a stream far longer than
// its stored bytes, so any originalSize up to 4 GiB passed as plausible and was allocated whole.
// Five stored bytes cannot inflate to 64 MiB, whatever the stream's length claims.
TEST(HostileSizes, SaveRefusesALentEntryWhoseStreamClaimsMoreThanItsStoredBytes) {
    TempDir dir;
    TestArchive()
        .add("data\\lent.txt", "five!")
        .compressedSize(0xFFFFFFF0u)
        .originalSize(64u << 20)
        .writeTo(dir, u"lender.grf");
    GrfArchive archive;
    ASSERT_TRUE(archive.create(dir.file(u"test.grf"))) << describe(archive);
    QuietSink sink;
    ASSERT_TRUE(mergeArchive(archive, dir.file(u"lender.grf"), sink));
    EXPECT_FALSE(saveArchive(archive, 6, false, sink));
    EXPECT_EQ(archive.lastError.code, RESULT_BAD_DATA) << describe(archive);
}
