// Directory listing, temporary files and disk operations, on both systems.
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <set>
#include <string>
#include <thread>

#include "platform/dir_walk.h"
#include "platform/disk_ops.h"
#include "platform/exclusive_file.h"
#include "platform/temp_file.h"
#include "platform/thread_sync.h"
#include "platform/utf8.h"
#include "tests/support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

using platform::ExclusiveFile;

namespace {

void writeWhole(const std::u16string& path, const std::string& content) {
    ExclusiveFile file;
    ASSERT_EQ(file.open(path, ExclusiveFile::Mode::WRITE), 0);
    ASSERT_TRUE(file.write(content.data(), content.size()));
}

std::string readWhole(const std::u16string& path) {
    ExclusiveFile file;
    if (file.open(path, ExclusiveFile::Mode::READ) != 0) return "(cannot open)";
    std::string content(4096, '\0');
    content.resize(file.read(content.data(), content.size()));
    return content;
}

// Hidden as the system understands it: a dot name on POSIX, the attribute on Windows.
std::u16string makeHidden(const TempDir& dir) {
#ifdef _WIN32
    const std::u16string path = dir.file(u"hidden.dat");
    writeWhole(path, "h");
    SetFileAttributesW(reinterpret_cast<const wchar_t*>(path.c_str()), FILE_ATTRIBUTE_HIDDEN);
    return u"hidden.dat";
#else
    writeWhole(dir.file(u".hidden"), "h");
    return u".hidden";
#endif
}

struct Seen {
    platform::ItemKind kind;
    uint64_t size;
    int systemError = 0;
    bool operator==(const Seen&) const = default;
};

TEST(DirWalk, ListsFilesDirectoriesAndHiddenItems) {
    using platform::ItemKind;
    TempDir dir;
    writeWhole(dir.file(u"a.txt"), "abc");
    writeWhole(dir.file(u"한글 이름.txt"), std::string(70000, 'x'));
    writeWhole(dir.file(u"empty"), "");
    ASSERT_TRUE(platform::createDirectory(dir.file(u"sub")));
    writeWhole(dir.file(u"sub\\inner.txt"), "not listed at the top");
    const std::u16string hidden = makeHidden(dir);
#ifndef _WIN32
    // Links are told apart by where they lead, so a walk can refuse the ones that would loop.
    ASSERT_EQ(symlink("..", dir.native(u"sub\\up").c_str()), 0);
    ASSERT_EQ(symlink(dir.native(u"a.txt").c_str(), dir.native(u"alias.txt").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", dir.native(u"dangling").c_str()), 0);
    ASSERT_EQ(symlink("self", dir.native(u"self").c_str()), 0);
    ASSERT_EQ(mkfifo(dir.native(u"pipe").c_str(), 0644), 0);
#endif

    const std::map<std::u16string, Seen> expected = {
        {u"a.txt", {ItemKind::FILE, 3}},
        {u"한글 이름.txt", {ItemKind::FILE, 70000}},
        {u"empty", {ItemKind::FILE, 0}},
        {u"sub", {ItemKind::DIRECTORY, 0}},
        {hidden, {ItemKind::FILE, 1}},
#ifndef _WIN32
        {u"alias.txt", {ItemKind::FILE, 3}},
        {u"dangling", {ItemKind::UNREACHABLE, 0, ENOENT}},
        {u"self", {ItemKind::UNREACHABLE, 0, ELOOP}},
        {u"pipe", {ItemKind::NOT_REGULAR, 0}},
#endif
    };
    // A listing that may leave sizes unmeasured still tells every kind, and any size it tells is right.
    for (const platform::Sizes sizes : {platform::Sizes::MEASURED, platform::Sizes::WHEN_FREE}) {
        SCOPED_TRACE(sizes == platform::Sizes::MEASURED ? "sizes measured" : "sizes when free");
        std::map<std::u16string, Seen> seen;
        ASSERT_EQ(platform::listDirectory(dir.path(), [&](const platform::DirItem& item) {
            Seen told{item.kind, item.size, item.systemError};
            if (sizes == platform::Sizes::WHEN_FREE && item.kind == ItemKind::FILE && item.size == platform::UNMEASURED &&
                expected.count(item.name)) {
                told.size = expected.at(item.name).size;
            }
            EXPECT_TRUE(seen.emplace(item.name, told).second);
        }, sizes), 0);
        EXPECT_TRUE(seen == expected) << seen.size() << " items";
    }
    std::map<std::u16string, ItemKind> inSub;
    ASSERT_EQ(platform::listDirectory(dir.file(u"sub"), [&inSub](const platform::DirItem& item) {
        inSub.emplace(item.name, item.kind);
    }), 0);
    std::map<std::u16string, ItemKind> expectedInSub{{u"inner.txt", ItemKind::FILE}};
#ifndef _WIN32
    expectedInSub.emplace(u"up", ItemKind::LINKED_DIRECTORY);
#endif
    EXPECT_EQ(inSub, expectedInSub);

    EXPECT_EQ(platform::listDirectory(dir.file(u"missing"), [](const platform::DirItem&) {}), ENOENT);
    platform::FileIdentity top;
    platform::FileIdentity again;
    ASSERT_EQ(platform::identifyFile(dir.path(), top), 0);
    ASSERT_EQ(platform::identifyFile(dir.file(u"sub\\..\\"), again), 0);
    EXPECT_EQ(top, again);
    EXPECT_EQ(platform::identifyFile(dir.file(u"missing"), again), ENOENT);
}

TEST(TempFile, CreatesDistinctEmptyFilesNamedLikeWindows) {
    TempDir dir;
    std::set<std::u16string> names;
    for (int i = 0; i < 3; ++i) {
        const auto path = platform::createTempFile(dir.path(), u"grf");
        ASSERT_TRUE(path.has_value());
        EXPECT_TRUE(platform::fileExists(*path));
        EXPECT_EQ(readWhole(*path), "");
        const std::u16string prefix = dir.path() + u"\\grf";
        ASSERT_EQ(path->substr(0, prefix.size()), prefix);
        const std::u16string rest = path->substr(prefix.size());
        // One to four hex digits: Windows does not pad the number.
        ASSERT_GE(rest.size(), 5u);
        ASSERT_LE(rest.size(), 8u);
        EXPECT_EQ(rest.substr(rest.size() - 4), u".tmp");
        const std::u16string number = rest.substr(0, rest.size() - 4);
        EXPECT_EQ(number.find_first_not_of(u"0123456789abcdefABCDEF"), std::u16string::npos);
        names.insert(*path);
    }
    EXPECT_EQ(names.size(), 3u);
    EXPECT_FALSE(platform::createTempFile(dir.file(u"missing"), u"grf").has_value());
}

TEST(DiskOps, ReplaceFileSwapsInTheNewContent) {
    TempDir dir;
    const std::u16string target = dir.file(u"archive.grf");
    const std::u16string fresh = dir.file(u"grf1a2b.tmp");
    writeWhole(target, "old archive");
    writeWhole(fresh, "new archive");
    ASSERT_TRUE(platform::replaceFile(fresh, target));
    EXPECT_EQ(readWhole(target), "new archive");
    EXPECT_FALSE(platform::fileExists(fresh));
    // A missing source leaves the target alone.
    EXPECT_FALSE(platform::replaceFile(fresh, target));
    EXPECT_EQ(readWhole(target), "new archive");
}

TEST(DiskOps, CreatesQueriesAndDeletes) {
    TempDir dir;
    const std::u16string sub = dir.file(u"새 폴더");
    EXPECT_TRUE(platform::createDirectory(sub));
    EXPECT_FALSE(platform::createDirectory(sub));
    EXPECT_TRUE(platform::isDirectory(sub));
    EXPECT_FALSE(platform::fileExists(sub));

    const std::u16string file = sub + u"\\데이터.grf";
    writeWhole(file, "x");
    EXPECT_TRUE(platform::fileExists(file));
    EXPECT_FALSE(platform::isDirectory(file));
    EXPECT_TRUE(platform::deleteFile(file));
    EXPECT_FALSE(platform::fileExists(file));
    EXPECT_FALSE(platform::deleteFile(file));
}

TEST(DiskOps, ConvertsPathsAtTheBoundary) {
#ifdef _WIN32
    EXPECT_EQ(platform::extraSeparator(), 0);
    EXPECT_EQ(platform::nativePathUtf8(u"C:\\data\\한글.txt"), "C:\\data\\\xED\x95\x9C\xEA\xB8\x80.txt");
    EXPECT_EQ(platform::corePathFromUtf8("C:\\data\\\xED\x95\x9C\xEA\xB8\x80.txt"), u"C:\\data\\한글.txt");
#else
    EXPECT_EQ(platform::extraSeparator(), u'/');
    EXPECT_EQ(platform::nativePathUtf8(u"\\tmp\\data\\한글.txt"), "/tmp/data/\xED\x95\x9C\xEA\xB8\x80.txt");
    EXPECT_EQ(platform::nativePathUtf8(u"a\U0001F600"), "a\xF0\x9F\x98\x80");
    EXPECT_EQ(platform::corePathFromUtf8("/tmp/data/\xED\x95\x9C\xEA\xB8\x80.txt"), u"\\tmp\\data\\한글.txt");
    EXPECT_EQ(platform::corePathFromUtf8("a\xF0\x9F\x98\x80"), u"a\U0001F600");
    // Bytes that are not UTF-8 (an old file name, say) are kept, so the file can still be opened,
    // and known for what they are.
    const std::u16string kept = platform::corePathFromUtf8("x\xB5\xA5/y\xC0");
    EXPECT_EQ(kept, (std::u16string{u'x', 0xDCB5, 0xDCA5, u'\\', u'y', 0xDCC0}));
    EXPECT_EQ(platform::nativePathUtf8(kept), "x\xB5\xA5/y\xC0");
    EXPECT_TRUE(platform::isUndecodedName(kept));
    EXPECT_FALSE(platform::isUndecodedName(u"a\U0001F600"));
#endif
}

TEST(Utf8, ConvertsBothWaysAndReplacesWhatIsNoText) {
    const struct { const char* what; std::string utf8; std::u16string utf16; } roundTrips[] = {
        {"ASCII and hangul", "a\\\xED\x95\x9C", u"a\\\uD55C"},
        {"outside the basic plane", "\xF0\x9F\x98\x80", u"\U0001F600"},
    };
    for (const auto& c : roundTrips) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(platform::utf8ToUtf16(c.utf8), c.utf16);
        EXPECT_EQ(platform::utf16ToUtf8(c.utf16), c.utf8);
        EXPECT_EQ(platform::utf8Length(c.utf16), c.utf8.size());
    }
    // One replacement for each byte of a sequence that is not a character.
    const struct { const char* what; std::string utf8; std::u16string utf16; } broken[] = {
        {"overlong slash", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"cut short at the end", "a\xE2\x82", u"a\uFFFD\uFFFD"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
    };
    for (const auto& c : broken) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(platform::utf8ToUtf16(c.utf8), c.utf16);
    }
    EXPECT_EQ(platform::utf16ToUtf8(u"x\xD800y"), "x\xEF\xBF\xBDy");
    EXPECT_EQ(platform::utf8Length(u"x\xD800y"), 5u);
}

}  // namespace

TEST(ThreadSync, WaitsEndWhenTheConditionHoldsAndNotBefore) {
    platform::Mutex mutex;
    platform::Condition condition;
    int stage = 0;
    std::unique_lock held(mutex);
    // Nobody changes the stage: the wait times out and says so.
    EXPECT_FALSE(condition.wait_for(held, std::chrono::milliseconds(1), [&] { return stage == 1; }));
    EXPECT_TRUE(condition.wait_for(held, std::chrono::milliseconds(0), [&] { return stage == 0; }));
    // Another thread moves it on twice; each wait ends only at its own stage, however the
    // wake-ups fall.
    std::thread other([&] {
        for (int next : {1, 2}) {
            const std::lock_guard hold(mutex);
            stage = next;
            condition.notify_all();
        }
    });
    condition.wait(held, [&] { return stage >= 1; });
    EXPECT_GE(stage, 1);
    EXPECT_TRUE(condition.wait_for(held, std::chrono::hours(1), [&] { return stage == 2; }));
    held.unlock();
    other.join();
}
