// Runs the built quarnel-cli as a user would and checks its output, files and exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/disk_ops.h"
#include "platform/exclusive_file.h"
#include "tests/support/archive_writer.h"
#include "tests/support/cli_archive_writer.h"
#include "tests/support/cli_run.h"
#include "tests/support/small_disk.h"
#include "tests/support/temp_dir.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// 한글 in code page 949; the same bytes read as Windows-1252 are ÇÑ±Û.
const std::string HANGUL_949 = "\xC7\xD1\xB1\xDB";
const std::string HANGUL_UTF8 = "\xED\x95\x9C\xEA\xB8\x80";
const std::string LATIN_UTF8 = "\xC3\x87\xC3\x91\xC2\xB1\xC3\x9B";

// A binary payload with the bytes a text mode would mangle, longer than one 64 KiB chunk.
std::string binaryPayload() {
    std::string data;
    for (int i = 0; i < 70000; ++i) data += char((i * 7 + i / 13) & 0xFF);
    data += "\r\n\x1a\0end";
    return data;
}

class Cli : public ::testing::Test {
protected:
    TempDir dir;
    TempDir scratch;

    CliResult run(const std::vector<std::string>& arguments) { return runCliProgram(arguments, scratch.native()); }
    std::string path(const std::string& relative) { return dir.native(std::u16string(relative.begin(), relative.end())); }

    // Every regular file below the test directory, as relative generic paths.
    std::vector<std::string> filesBelow(const std::string& root) {
        std::vector<std::string> found;
        for (const auto& item : fs::recursive_directory_iterator(root)) {
            if (item.is_regular_file()) found.push_back(fs::relative(item.path(), root).generic_string());
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    std::string writeSample() {
        const std::string archive = path("sample.grf");
        CliArchiveWriter()
            .add("data\\a.txt", "hello")
            .add("data\\sub\\b.bin", binaryPayload())
            .add("data\\" + HANGUL_949 + ".txt", "korean")
            .writeTo(archive);
        return archive;
    }

    // The "name" fields of `list --json`, in output order.
    std::vector<std::string> listedNames(const std::string& archive, std::vector<std::string> extra = {}) {
        std::vector<std::string> arguments{"list", archive, "--json"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        const CliResult result = run(arguments);
        EXPECT_EQ(result.status, 0) << result.err;
        std::vector<std::string> names;
        size_t at = 0;
        while ((at = result.out.find("{\"name\":\"", at)) != std::string::npos) {
            at += 9;
            names.push_back(result.out.substr(at, result.out.find('"', at) - at));
        }
        return names;
    }
};

TEST_F(Cli, ListPrintsTableAndJsonInBothNameForms) {
    const std::string archive = writeSample();
    const CliResult table = run({"list", archive});
    ASSERT_EQ(table.status, 0) << table.err;
    EXPECT_TRUE(table.err.empty()) << table.err;
    EXPECT_NE(table.out.find("NAME"), std::string::npos);
    EXPECT_NE(table.out.find("         5         46  stored   data\\a.txt\n"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("data\\" + LATIN_UTF8 + ".txt"), std::string::npos) << table.out;

    const std::string packed = std::to_string(compressForTest("hello").size());
    const CliResult json = run({"list", archive, "--json", "--korean"});
    ASSERT_EQ(json.status, 0) << json.err;
    const std::string firstLine = json.out.substr(0, json.out.find('\n'));
    EXPECT_EQ(firstLine, "{\"name\":\"data\\\\a.txt\",\"nameHex\":\"646174615c612e747874\",\"compressedSize\":" +
                             packed + ",\"storedSize\":" + packed +
                             ",\"originalSize\":5,\"offset\":46,\"flags\":1,\"coding\":-1,\"state\":0}");
    EXPECT_NE(json.out.find("\"name\":\"data\\\\" + HANGUL_UTF8 + ".txt\",\"nameHex\":\"646174615cc7d1b1db2e747874\""),
              std::string::npos)
        << json.out;
    EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 3);
}

TEST_F(Cli, ListFiltersAndSorts) {
    const std::string archive = writeSample();
    const std::string hangul = "data\\\\" + HANGUL_UTF8 + ".txt";
    struct Case {
        const char* what;
        std::vector<std::string> options;
        std::vector<std::string> expected;
    } cases[] = {
        {"table order", {}, {"data\\\\a.txt", "data\\\\sub\\\\b.bin", hangul}},
        {"by size", {"--sort", "size"}, {"data\\\\a.txt", hangul, "data\\\\sub\\\\b.bin"}},
        {"by size, reversed", {"--sort=size", "--reverse"}, {"data\\\\sub\\\\b.bin", hangul, "data\\\\a.txt"}},
        {"by name", {"--sort", "name"}, {"data\\\\a.txt", "data\\\\sub\\\\b.bin", hangul}},
        {"filter folds ASCII letters", {"--filter", "B.BIN"}, {"data\\\\sub\\\\b.bin"}},
        {"filter on the chosen form", {"--filter", HANGUL_UTF8}, {hangul}},
        {"wildcard over the whole name", {"--filter", "*.TXT"}, {"data\\\\a.txt", hangul}},
        {"wildcard ? is one character", {"--filter", "data\\??.txt"}, {hangul}},
        {"wildcard must match whole", {"--filter", "sub*"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> options = c.options;
        options.push_back("--korean");
        EXPECT_EQ(listedNames(archive, options), c.expected);
    }
}

TEST_F(Cli, FailuresGiveOneErrorLineAndTheirStatus) {
    const std::string good = writeSample();
    const std::string notArchive = path("text.grf");
    writeFileBytes(notArchive, "this is not an archive at all, but it is long enough for a header");
    const std::string truncated = path("truncated.grf");
    const std::string whole = readFileBytes(good);
    writeFileBytes(truncated, whole.substr(0, whole.size() - 10));
    const std::string missing = path("missing.grf");

    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        int status;
        std::string errStart;
    } cases[] = {
        {"missing file", {"list", missing}, 1, "quarnel-cli: error 2: "},
        // English throughout: the window's Chinese texts stay in the window.
        {"not an archive", {"list", notArchive}, 1, "quarnel-cli: error -1001: invalid archive ("},
        {"table cut short", {"list", truncated}, 1, "quarnel-cli: error -100"},
        {"bad level", {"repack", good, "--level", "10"}, 2, "quarnel-cli: error: --level"},
        {"level not a number", {"add", good, dir.native(), "--level", "x"}, 2, "quarnel-cli: error: --level"},
        {"unknown option", {"list", good, "--frobnicate"}, 2, "quarnel-cli: error: unknown option"},
        {"option of another command", {"list", good, "--flat"}, 2, "quarnel-cli: error: --flat"},
        {"unknown command", {"explode", good}, 2, "quarnel-cli: error: unknown command"},
        {"no archive", {"list"}, 2, "quarnel-cli: error: ARCHIVE is missing"},
        {"bad sort key", {"list", good, "--sort", "colour"}, 2, "quarnel-cli: error: --sort"},
        {"-o with two names", {"extract", good, "data\\a.txt", "x", "-o", "f"}, 2, "quarnel-cli: error: -o"},
        {"no such entry", {"extract", good, "data\\nope.txt", "-o", path("f")}, 1, "quarnel-cli: error: no entry"},
        {"bad hex name", {"delete", good, "--hex", "6g"}, 1, "quarnel-cli: error: '6g' is not a hexadecimal"},
        // A zero byte would end the name early in the table and shift every field after it.
        {"zero byte in a new name", {"rename", good, "--hex", "646174615c612e747874", "610062"}, 1,
         "quarnel-cli: error: '610062' is not a valid entry name"},
        {"new name too long", {"rename", good, "data\\a.txt", std::string(260, 'n')}, 1,
         "quarnel-cli: error: 'nnn"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const CliResult result = run(c.arguments);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.err.rfind(c.errStart, 0), 0u) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    }
    // The system's message for a file that does not open, and the archive left alone.
    EXPECT_NE(run({"list", missing}).err.find("No such file or directory (cannot open"), std::string::npos);
    EXPECT_EQ(readFileBytes(good), whole);
}

TEST_F(Cli, ExtractWritesTreesFlatFilesAndStandardOutput) {
    const std::string archive = writeSample();
    const CliResult all = run({"extract", archive, "-C", path("tree"), "--korean"});
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_TRUE(all.err.empty()) << all.err;
    EXPECT_EQ(filesBelow(path("tree")),
              (std::vector<std::string>{"data/a.txt", "data/sub/b.bin", "data/" + HANGUL_UTF8 + ".txt"}));
    EXPECT_EQ(readFileBytes(path("tree/data/sub/b.bin")), binaryPayload());

    const CliResult some = run({"extract", archive, "DATA\\SUB\\B.BIN", "data/a.txt", "-C", path("flat"), "--flat"});
    ASSERT_EQ(some.status, 0) << some.err;
    EXPECT_EQ(filesBelow(path("flat")), (std::vector<std::string>{"a.txt", "b.bin"}));

    const CliResult one = run({"extract", archive, "data\\a.txt", "-o", path("one.txt")});
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(readFileBytes(path("one.txt")), "hello");

    const CliResult piped = run({"extract", archive, "--hex", "646174615c7375625c622e62696e", "-o", "-"});
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out, binaryPayload());
    EXPECT_TRUE(piped.err.empty()) << piped.err;
}

TEST_F(Cli, ExtractAndDeleteTakePatternsForNames) {
    const std::string archive = writeSample();
    const CliResult some = run({"extract", archive, "DATA/*.TXT", "data/a.txt", "-C", path("out"), "--korean"});
    ASSERT_EQ(some.status, 0) << some.err;
    EXPECT_EQ(filesBelow(path("out")), (std::vector<std::string>{"data/a.txt", "data/" + HANGUL_UTF8 + ".txt"}));

    const CliResult none = run({"extract", archive, "*.gat", "-C", path("none")});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "quarnel-cli: error: no entry matches '*.gat'\n");
    const CliResult two = run({"extract", archive, "*.txt", "-o", path("f")});
    EXPECT_EQ(two.status, 1);
    EXPECT_EQ(two.err, "quarnel-cli: error: '*.txt' matches 2 entries; -o writes exactly one\n");

    EXPECT_EQ(run({"delete", archive, "*.bin", "*.gat"}).status, 1) << "all or nothing";
    EXPECT_EQ(listedNames(archive).size(), 3u);
    const CliResult deleted = run({"delete", archive, "data\\s?b\\*"});
    ASSERT_EQ(deleted.status, 0) << deleted.err;
    EXPECT_EQ(listedNames(archive, {"--korean"}), (std::vector<std::string>{"data\\\\a.txt", "data\\\\" + HANGUL_UTF8 + ".txt"}));
}

TEST_F(Cli, ReadingCommandsWorkOnAReadOnlyArchiveThatAnotherProgramReads) {
    const std::string archive = writeSample();
    const auto writable = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    fs::permissions(archive, writable, fs::perm_options::remove);
    // Writable again at the end, or the test directory could not be removed on Windows.
    struct Restore {
        std::string file;
        fs::perms perms;
        ~Restore() { fs::permissions(file, perms, fs::perm_options::add); }
    } restore{archive, writable};
    // A game reading its data meanwhile; it lets others read, as we do.
    platform::ExclusiveFile reader;
    ASSERT_EQ(reader.open(dir.file(u"sample.grf"), platform::ExclusiveFile::Mode::READ), 0);

    EXPECT_EQ(listedNames(archive).size(), 3u);
    const CliResult extracted = run({"extract", archive, "data\\a.txt", "-o", path("a.txt")});
    EXPECT_EQ(extracted.status, 0) << extracted.err;
    EXPECT_EQ(readFileBytes(path("a.txt")), "hello");
    const CliResult checked = run({"check", archive});
    EXPECT_EQ(checked.status, 0) << checked.err;
}

TEST_F(Cli, ExtractRefusesNamesThatLeaveTheTarget) {
    const std::string archive = path("evil.grf");
    const std::vector<std::string> unsafe = {"..\\evil1.txt", "data\\..\\..\\evil2.txt", "\\evil3.txt",
                                             "data\\\\evil5.txt", "../evil6.txt"};
    CliArchiveWriter writer;
    for (const std::string& name : unsafe) writer.add(name, "bad");
    writer.add("data\\ok.txt", "good");
    writer.writeTo(archive);

    fs::create_directories(path("inner/out"));
    const CliResult result = run({"extract", archive, "-C", path("inner/out")});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(filesBelow(dir.native()), (std::vector<std::string>{"evil.grf", "inner/out/data/ok.txt"}));
    // One line each, and the count.
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), long(unsafe.size()) + 1) << result.err;
    EXPECT_NE(result.err.find("quarnel-cli: cannot extract data\\..\\..\\evil2.txt: unsafe name"), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("\n1 extracted, 5 failed\n"), std::string::npos) << result.err;
}

// Each entry that cannot be written is named with what the system said about it: a folder
// standing at its path, a folder on its way that cannot be made.
TEST_F(Cli, ExtractGivesTheSystemsCauseForEachEntry) {
    const std::string archive = path("causes.grf");
    CliArchiveWriter()
        .add("data\\a.txt", "a")
        .add("folder.txt", "f")
        .add("data\\sub\\b.txt", "b")
        .add("ok.txt", "ok")
        .writeTo(archive);
    fs::create_directories(path("out/folder.txt"));
    writeFileBytes(path("out/data"), "a file where a folder goes");
    const CliResult result = run({"extract", archive, "-C", path("out")});
    EXPECT_EQ(result.status, 1);
    std::string folder = path("out/data");
#ifdef _WIN32
    std::replace(folder.begin(), folder.end(), '/', '\\');  // as the tool spells paths there
#endif
    const std::string blocked = "cannot create directory " + folder + ": File exists\n";
    EXPECT_EQ(result.err, "quarnel-cli: cannot extract data\\a.txt: " + blocked +
                              "quarnel-cli: cannot extract folder.txt: Is a directory\n"
                              "quarnel-cli: cannot extract data\\sub\\b.txt: " + blocked +
                              "1 extracted, 3 failed\n");
    EXPECT_EQ(readFileBytes(path("out/ok.txt")), "ok");
}

// A ':' in a name: a drive or a stream on Windows, refused with that cause; an ordinary character
// elsewhere.
TEST_F(Cli, ExtractTakesAColonAsTheSystemDoes) {
    const std::string archive = path("colon.grf");
    CliArchiveWriter().add("man3\\Dpkg::BuildEnv.3perl.gz", "perl").writeTo(archive);
    const CliResult result = run({"extract", archive, "-C", path("out")});
#ifdef _WIN32
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err,
              "quarnel-cli: cannot extract man3\\Dpkg::BuildEnv.3perl.gz: the name holds ':', which names a drive "
              "or a data stream on this system\n0 extracted, 1 failed\n");
#else
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(readFileBytes(path("out/man3/Dpkg::BuildEnv.3perl.gz")), "perl");
#endif
}

// A repack keeps the record a look-up of each name finds, names every other one it leaves out,
// and fails the run; the name still gives the bytes it gave.
TEST_F(Cli, RepackNamesTheRecordsItLeavesOut) {
    const std::string archive = path("twice.grf");
    CliArchiveWriter().add("data\\a.txt", "first").add("data\\b.txt", "b").add("DATA\\A.TXT", "second").writeTo(archive);
    EXPECT_EQ(run({"extract", archive, "data/a.txt", "-o", "-"}).out, "first");
    const CliResult repacked = run({"repack", archive});
    EXPECT_EQ(repacked.status, 1);
    EXPECT_EQ(repacked.err,
              "quarnel-cli: left out DATA\\A.TXT: an earlier record of the same name supersedes it (a look-up of the "
              "name finds that one)\n2 kept, 1 left out\n");
    EXPECT_EQ(listedNames(archive), (std::vector<std::string>{"data\\\\a.txt", "data\\\\b.txt"}));
    EXPECT_EQ(run({"extract", archive, "data/a.txt", "-o", "-"}).out, "first");
}

TEST_F(Cli, EditingCommandsSaveTheArchive) {
    const std::string archive = path("made.grf");
    const CliResult created = run({"create", archive});
    ASSERT_EQ(created.status, 0) << created.err;
    EXPECT_TRUE(listedNames(archive).empty());
    EXPECT_EQ(run({"create", archive}).status, 1);  // an existing file needs --force

    fs::create_directories(path("src/sub"));
    writeFileBytes(path("src/a.txt"), "alpha");
    writeFileBytes(path("src/sub/b.bin"), binaryPayload());
    const CliResult added = run({"add", archive, path("src"), "--level", "9"});
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(listedNames(archive, {"--sort", "name"}),
              (std::vector<std::string>{"data\\\\a.txt", "data\\\\sub\\\\b.bin"}));

    const CliResult renamed = run({"rename", archive, "data\\a.txt", "data/renamed.txt"});
    ASSERT_EQ(renamed.status, 0) << renamed.err;
    const CliResult taken = run({"rename", archive, "data\\renamed.txt", "DATA\\SUB\\B.BIN"});
    EXPECT_EQ(taken.status, 1);
    EXPECT_NE(taken.err.find("already exists"), std::string::npos) << taken.err;

    const std::string other = path("other.grf");
    CliArchiveWriter().add("data\\merged.txt", "from elsewhere").add("data\\renamed.txt", "replaced").writeTo(other);
    const CliResult merged = run({"merge", archive, other});
    ASSERT_EQ(merged.status, 0) << merged.err;

    const CliResult deleted = run({"delete", archive, "data\\sub\\b.bin"});
    ASSERT_EQ(deleted.status, 0) << deleted.err;
    EXPECT_EQ(run({"delete", archive, "data\\merged.txt", "data\\nope"}).status, 1);  // all or nothing

    const CliResult repacked = run({"repack", archive, "--level", "0"});
    ASSERT_EQ(repacked.status, 0) << repacked.err;
    EXPECT_EQ(listedNames(archive, {"--sort", "name"}),
              (std::vector<std::string>{"data\\\\merged.txt", "data\\\\renamed.txt"}));
    EXPECT_EQ(run({"extract", archive, "-C", path("check")}).status, 0);
    EXPECT_EQ(readFileBytes(path("check/data/renamed.txt")), "replaced");
    EXPECT_EQ(readFileBytes(path("check/data/merged.txt")), "from elsewhere");
    EXPECT_EQ(run({"check", archive}).status, 0);
}

TEST_F(Cli, AddAndMergeCreateAMissingArchiveButNotOnFailure) {
    fs::create_directories(path("src"));
    writeFileBytes(path("src/x.txt"), "x");
    const CliResult added = run({"add", path("new1.grf"), path("src")});
    ASSERT_EQ(added.status, 0) << added.err;
    EXPECT_EQ(listedNames(path("new1.grf")), std::vector<std::string>{"data\\\\x.txt"});

    const CliResult merged = run({"merge", path("new2.grf"), path("new1.grf")});
    ASSERT_EQ(merged.status, 0) << merged.err;
    EXPECT_EQ(listedNames(path("new2.grf")), std::vector<std::string>{"data\\\\x.txt"});

    const CliResult failed = run({"merge", path("new3.grf"), path("absent.grf")});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(failed.err.rfind("quarnel-cli: error 2: ", 0), 0u) << failed.err;
    EXPECT_FALSE(fs::exists(path("new3.grf")));

    const CliResult itself = run({"merge", path("new1.grf"), path("./new1.grf")});
    EXPECT_EQ(itself.status, 1);
    EXPECT_NE(itself.err.find("into itself"), std::string::npos) << itself.err;
    EXPECT_EQ(listedNames(path("new1.grf")), std::vector<std::string>{"data\\\\x.txt"});
}

TEST_F(Cli, CheckNamesDamagedEntries) {
    const std::string archive = path("damaged.grf");
    std::string broken = compressForTest("this stream will not inflate");
    broken[4] = char(broken[4] ^ 0x55);
    broken[5] = char(broken[5] ^ 0xAA);
    CliArchiveWriter()
        .add("data\\good.txt", "fine")
        .addRaw("data\\bad.txt", broken, 28)
        .addRaw("data\\garbage.txt", "not zlib", 8)
        .writeTo(archive);
    const CliResult result = run({"check", archive});
    EXPECT_EQ(result.status, 1);
    EXPECT_NE(result.out.find("data\\bad.txt: error -1005: "), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("data\\garbage.txt: error -1005: "), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("good.txt"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("3 entries checked, 2 damaged"), std::string::npos) << result.out;
    EXPECT_EQ(result.err.rfind("quarnel-cli: error: 2 of 3 entries", 0), 0u) << result.err;
}

// A record whose position wraps past 32 bits (into the header) is an unreachable position on
// every path, not damaged data: extract and check name it, a merge leaves it out by name.
TEST_F(Cli, WrappedPositionIsNamedUnreachableByExtractCheckAndMerge) {
    // The record holds 0xFFFFFFE4: adding the header's 46 bytes wraps to 10.
    TestArchive().add("data\\good.txt", "fine").add("data\\wrapped.txt", "lost").dataOffset(10).writeTo(dir, u"wrapped.grf");
    const std::string archive = path("wrapped.grf");
    const std::string unreachable = "the entry's data position lies beyond what the archive format can reach";
    const struct {
        const char* what;
        std::vector<std::string> arguments;
        std::string out;
        std::string err;
    } cases[] = {
        {"extract", {"extract", archive, "-C", path("out")}, "",
         "quarnel-cli: cannot extract data\\wrapped.txt: " + unreachable + "\n1 extracted, 1 failed\n"},
        {"check", {"check", archive}, "data\\wrapped.txt: error -1003: ", "quarnel-cli: error: 1 of 2 entries"},
        {"merge", {"merge", path("merged.grf"), archive}, "",
         "quarnel-cli: skipped data\\wrapped.txt: " + unreachable + "\n1 merged, 1 skipped\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CliResult result = run(c.arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.out.rfind(c.out, 0), 0u) << result.out;
        EXPECT_EQ(result.err.rfind(c.err, 0), 0u) << result.err;
        if (!c.out.empty()) {
            EXPECT_NE(result.out.find(unreachable), std::string::npos) << result.out;
        }
    }
    EXPECT_EQ(listedNames(path("merged.grf")), std::vector<std::string>{"data\\\\good.txt"});
}

TEST_F(Cli, NoProgressBarWhenStandardErrorIsNotATerminal) {
    const std::string archive = writeSample();
    fs::create_directories(path("src"));
    writeFileBytes(path("src/big.bin"), binaryPayload());
    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
             {"add", archive, path("src")}, {"extract", archive, "-C", path("out")}, {"repack", archive},
             {"check", archive}}) {
        SCOPED_TRACE(arguments[0]);
        const CliResult result = run(arguments);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
    }
}

TEST_F(Cli, ProgressBarOnATerminalUnlessQuiet) {
    const std::string archive = writeSample();
    const auto shown = runCliProgramOnTerminal({"extract", archive, "-C", path("out")}, scratch.native());
    if (!shown) GTEST_SKIP() << "no pseudo-terminal on this system";
    EXPECT_EQ(shown->status, 0) << shown->err;
    EXPECT_NE(shown->err.find("\r["), std::string::npos) << shown->err;
    EXPECT_NE(shown->err.find("100%"), std::string::npos) << shown->err;
    EXPECT_EQ(readFileBytes(path("out/data/a.txt")), "hello");

    const auto quiet = runCliProgramOnTerminal({"extract", archive, "-C", path("out"), "--quiet"}, scratch.native());
    ASSERT_TRUE(quiet);
    EXPECT_EQ(quiet->status, 0);
    EXPECT_EQ(quiet->err, "");
}

TEST_F(Cli, HelpAndVersion) {
    const CliResult help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"create", "list", "extract", "add", "merge", "delete", "rename", "repack", "check"}) {
        EXPECT_NE(help.out.find(std::string("  ") + command + " "), std::string::npos) << command;
    }
    const CliResult extractHelp = run({"extract", "--help"});
    EXPECT_EQ(extractHelp.status, 0);
    EXPECT_EQ(extractHelp.out.rfind("Usage: quarnel-cli extract ARCHIVE", 0), 0u) << extractHelp.out;
    const CliResult version = run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quarnel-cli " QUARNEL_VERSION "\n");
}

TEST_F(Cli, HexAndKoreanNamesReachTheSameEntry) {
    const std::string archive = writeSample();
    const CliResult korean = run({"extract", archive, "--korean", "data\\" + HANGUL_UTF8 + ".txt", "-o", "-"});
    EXPECT_EQ(korean.status, 0) << korean.err;
    EXPECT_EQ(korean.out, "korean");
    const CliResult ansi = run({"extract", archive, "data\\" + LATIN_UTF8 + ".txt", "-o", "-"});
    EXPECT_EQ(ansi.status, 0) << ansi.err;
    EXPECT_EQ(ansi.out, "korean");
    // Hangul has no form in Windows-1252.
    const CliResult unencodable = run({"extract", archive, "data\\" + HANGUL_UTF8 + ".txt", "-o", "-"});
    EXPECT_EQ(unencodable.status, 1);
    EXPECT_NE(unencodable.err.find("cannot be written in code page"), std::string::npos) << unencodable.err;

    const CliResult deleted = run({"delete", archive, "--hex", "646174615cc7d1b1db2e747874"});
    ASSERT_EQ(deleted.status, 0) << deleted.err;
    EXPECT_EQ(listedNames(archive), (std::vector<std::string>{"data\\\\a.txt", "data\\\\sub\\\\b.bin"}));
}

}  // namespace

// A name can hold any byte but zero: shown, it must stay one line and drive no terminal, and
// both systems refuse to make a file of it.
TEST_F(Cli, NamesWithControlCharactersAreShownEscapedAndNotExtracted) {
    const std::string archive = path("controls.grf");
    CliArchiveWriter()
        .add("data\\line\nquarnel-cli: forged.txt", "a")
        .add("data\\esc\x1b[31mred.txt", "b")
        .add("data\\ok.txt", "c")
        .writeTo(archive);

    const CliResult listed = run({"list", archive});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'), 4) << listed.out;
    EXPECT_EQ(listed.out.find('\x1b'), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("data\\line\\nquarnel-cli: forged.txt"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("data\\esc\\x1b[31mred.txt"), std::string::npos) << listed.out;
    const std::vector<std::string> json = listedNames(archive);
    EXPECT_NE(std::find(json.begin(), json.end(), "data\\\\line\\nquarnel-cli: forged.txt"), json.end());

    fs::create_directories(path("out"));
    const CliResult extracted = run({"extract", archive, "-C", path("out")});
    EXPECT_EQ(extracted.status, 1);
    EXPECT_EQ(filesBelow(path("out")), (std::vector<std::string>{"data/ok.txt"}));
    EXPECT_EQ(std::count(extracted.err.begin(), extracted.err.end(), '\n'), 3) << extracted.err;
    EXPECT_EQ(extracted.err.find('\x1b'), std::string::npos) << extracted.err;
    EXPECT_NE(extracted.err.find("quarnel-cli: cannot extract data\\line\\nquarnel-cli: forged.txt: unsafe name"),
              std::string::npos)
        << extracted.err;
    EXPECT_NE(extracted.err.find("1 extracted, 2 failed\n"), std::string::npos) << extracted.err;
}

// A full disk under -C, -o FILE and -o -: the entry is named with the system's cause, nothing
// cut short stays, a file it was to replace keeps what it had, the rest still arrives, and the
// run fails.
TEST_F(Cli, FullDiskFailsTheEntryByNameAndLeavesNoPartialFile) {
    // Over a MiB, so the extracting thread writes it in its turn, after the small file before it
    // is whole: written at once, the small file could meet the disk full of the large one's bytes.
    std::string noise(1536 * 1024, '\0');
    uint32_t state = 7;
    for (char& c : noise) c = char((state = state * 1103515245 + 12345) >> 24);
    const std::string archive = path("full.grf");
    CliArchiveWriter().add("data\\ok.txt", "ok").add("data\\large.bin", noise).writeTo(archive);
#ifdef _WIN32
    GTEST_SKIP() << "no small disk to fill under this system";
#else
    fs::create_directories(path("disk"));
    const SmallDisk disk(path("disk"), 64 * 1024);
    if (!disk.mounted()) GTEST_SKIP() << disk.refusal();

    // Standard output on the disk, filled to the last byte first.
    {
        std::ofstream filler(path("disk/filler"), std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), std::streamsize(block.size())) && filler.flush()) {
        }
    }
    fs::create_symlink(path("disk/stdout"), fs::path(scratch.native()) / "cli-stdout");
    const CliResult piped = run({"extract", archive, "data/large.bin", "-o", "-"});
    EXPECT_EQ(piped.status, 1);
    EXPECT_EQ(piped.err, "quarnel-cli: error 28: No space left on device (cannot write standard output)\n");
    fs::remove(fs::path(scratch.native()) / "cli-stdout");
    fs::remove(path("disk/stdout"));
    fs::remove(path("disk/filler"));

    const CliResult tree = run({"extract", archive, "-C", path("disk")});
    EXPECT_EQ(tree.status, 1);
    EXPECT_EQ(tree.err,
              "quarnel-cli: cannot extract data\\large.bin: No space left on device\n"
              "1 extracted, 1 failed\n");
    EXPECT_EQ(filesBelow(path("disk")), (std::vector<std::string>{"data/ok.txt"}));

    // The file the user had is still there, whole, and nothing else is.
    writeFileBytes(path("disk/keep.bin"), "earlier");
    const CliResult one = run({"extract", archive, "data/large.bin", "-o", path("disk/keep.bin")});
    EXPECT_EQ(one.status, 1);
    EXPECT_NE(one.err.find("quarnel-cli: error 28: No space left on device (cannot extract data\\large.bin"),
              std::string::npos)
        << one.err;
    EXPECT_EQ(readFileBytes(path("disk/keep.bin")), "earlier");
    EXPECT_EQ(filesBelow(path("disk")), (std::vector<std::string>{"data/ok.txt", "keep.bin"}));
#endif
}

// An add to a new archive killed in its save leaves nothing under the archive's name, only a
// recognisable temporary file, which the next save of that archive removes.
TEST_F(Cli, KilledAddToANewArchiveLeavesNothingUnderItsName) {
    fs::create_directories(path("tree"));
    writeFileBytes(path("tree/a.txt"), "a");
    writeFileBytes(path("tree/b.bin"), binaryPayload());
    const std::string archive = path("new.grf");
    const auto killed = runCliProgramKilledMidSave({"add", archive, path("tree")}, scratch.native());
    if (!killed) GTEST_SKIP() << "no way to stop the tool mid-save on this system";
    EXPECT_EQ(killed->status, 128 + 9) << killed->err;
    const auto beside = [&] {
        std::vector<std::string> names;
        for (const auto& item : fs::directory_iterator(fs::path(dir.native()))) {
            if (item.is_regular_file()) names.push_back(item.path().filename().string());
        }
        return names;
    };
    std::vector<std::string> left = beside();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].rfind("new.grf.", 0), 0u) << left[0];
    EXPECT_EQ(left[0].substr(left[0].size() - 4), ".tmp");

    const CliResult again = run({"add", archive, path("tree")});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(beside(), std::vector<std::string>{"new.grf"});
    std::vector<std::string> names = listedNames(archive);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"data\\\\a.txt", "data\\\\b.bin"}));
}

// A repack that replaced the archive succeeded, even when another program takes the file before
// the tool opens it again: exit 0 and a warning with the cause.
TEST_F(Cli, RepackThatCannotReopenTheArchiveSucceedsWithAWarning) {
    const std::string archive = writeSample();
    const std::string before = readFileBytes(archive);
    // The tool refuses its own second open of the archive as a file someone else holds.
#ifdef _WIN32
    _putenv("QUARNEL_TEST_REFUSE_REOPEN=1");
#else
    setenv("QUARNEL_TEST_REFUSE_REOPEN", "1", 1);
#endif
    const CliResult repacked = run({"repack", archive, "--level", "9"});
#ifdef _WIN32
    _putenv("QUARNEL_TEST_REFUSE_REOPEN=");
#else
    unsetenv("QUARNEL_TEST_REFUSE_REOPEN");
#endif
    EXPECT_EQ(repacked.status, 0) << repacked.err;
    EXPECT_EQ(repacked.err.rfind("quarnel-cli: warning: " + archive + " was repacked but cannot be opened again: cannot open ", 0), 0u)
        << repacked.err;
    EXPECT_NE(repacked.err.find(": the file is in use by another program\n"), std::string::npos) << repacked.err;
    EXPECT_NE(readFileBytes(archive), before);
    EXPECT_EQ(listedNames(archive).size(), 3u);
}

// Whatever an add leaves out is named with its cause, counted, and fails the run; the rest is stored.
TEST_F(Cli, AddNamesEveryLeftOutFileAndFails) {
    fs::create_directories(path("tree/sub"));
    writeFileBytes(path("tree/a.txt"), "stored");
    {
        const std::string name = HANGUL_UTF8 + ".txt";
        std::ofstream(fs::path(path("tree/sub")) / fs::path(std::u8string(name.begin(), name.end()))) << "korean";
    }
    // Sparse: the size is what matters, past what 32-bit sizes hold.
    { std::ofstream(fs::path(path("tree/big.bin"))); }
    fs::resize_file(fs::path(path("tree/big.bin")), (uint64_t(1) << 32) + 5);

    const std::string archive = path("new.grf");
    const CliResult added = run({"add", archive, path("tree"), "--json"});
    EXPECT_EQ(added.status, 1) << added.err;
    EXPECT_NE(added.err.find("quarnel-cli: skipped data\\sub\\" + HANGUL_UTF8 +
                             ".txt: not representable in code page 1252 (use --korean)\n"),
              std::string::npos)
        << added.err;
    EXPECT_NE(added.err.find("quarnel-cli: skipped data\\big.bin: file too large for the archive format (4 GiB)\n"),
              std::string::npos)
        << added.err;
    EXPECT_NE(added.err.find("1 added, 2 skipped\n"), std::string::npos) << added.err;
    EXPECT_EQ(std::count(added.out.begin(), added.out.end(), '\n'), 2) << added.out;
    EXPECT_NE(added.out.find("{\"skipped\":\"data\\\\big.bin\""), std::string::npos) << added.out;
    EXPECT_EQ(listedNames(archive), (std::vector<std::string>{"data\\\\a.txt"}));

    // With the Korean form the name fits; only the large file is still left out.
    const CliResult korean = run({"add", archive, path("tree"), "--korean"});
    EXPECT_EQ(korean.status, 1) << korean.err;
    EXPECT_NE(korean.err.find("2 added, 1 skipped\n"), std::string::npos) << korean.err;
}

// Folders, files and links of the tree that an add cannot take are each named with the system's
// cause or ours, counted, and fail the run; everything else is stored.
TEST_F(Cli, AddNamesWhatItCannotTakeFromTheTree) {
    fs::create_directories(path("tree/sub"));
    fs::create_directories(path("out"));
    writeFileBytes(path("tree/a.txt"), "a");
    writeFileBytes(path("tree/held.txt"), "held");
    // Another program writing it holds it alone.
    platform::ExclusiveFile holder;
    ASSERT_EQ(holder.open(dir.file(u"tree\\held.txt"), platform::ExclusiveFile::Mode::UPDATE), 0);
    const auto shown = [this](const std::u16string& relative) { return platform::nativePathUtf8(dir.file(relative)); };
    std::vector<std::string> expected = {
        "quarnel-cli: skipped " + shown(u"tree\\held.txt") + ": the file is in use by another program\n",
    };
    uint64_t added = 1;
#ifndef _WIN32
    fs::create_directories(path("tree/locked"));
    writeFileBytes(path("tree/locked/b.txt"), "below");
    writeFileBytes(path("tree/unread.txt"), "secret");
    writeFileBytes(path("tree/sub/faq.html"), "lower");
    writeFileBytes(path("tree/sub/FAQ.html"), "upper");
    writeFileBytes(path("tree") + "/back\\slash.txt", "b");
    ASSERT_EQ(mkfifo(path("tree/pipe").c_str(), 0644), 0);
    ASSERT_EQ(symlink("nowhere", path("tree/dangling").c_str()), 0);
    ASSERT_EQ(symlink("loop", path("tree/loop").c_str()), 0);
    ASSERT_EQ(symlink("..", path("tree/sub/up").c_str()), 0);
    fs::permissions(path("tree/locked"), fs::perms::none);
    fs::permissions(path("tree/unread.txt"), fs::perms::none);
    // The user the add runs as writes the archive here.
    fs::permissions(path("out"), fs::perms::all);
    struct Restore {
        std::string locked, unread;
        ~Restore() {
            fs::permissions(locked, fs::perms::owner_all);
            fs::permissions(unread, fs::perms::owner_all);
        }
    } restore{path("tree/locked"), path("tree/unread.txt")};
    added = 2;
    const std::vector<std::string> unreadable = {
        "quarnel-cli: skipped " + shown(u"tree\\locked\\") + ": Permission denied\n",
        "quarnel-cli: skipped " + shown(u"tree\\unread.txt") + ": Permission denied\n",
        "quarnel-cli: skipped " + shown(u"tree\\pipe") + ": not a regular file\n",
        "quarnel-cli: skipped " + shown(u"tree\\dangling") + ": No such file or directory\n",
        "quarnel-cli: skipped " + shown(u"tree\\loop") + ": Too many levels of symbolic links\n",
        "quarnel-cli: skipped " + shown(u"tree\\sub\\up") + ": a link to a folder that holds it (following it would loop)\n",
        "quarnel-cli: skipped " + shown(u"tree\\back\\slash.txt") +
            ": the name back\\slash.txt holds a backslash, which an entry name would take as a folder separator\n",
    };
    expected.insert(expected.end(), unreadable.begin(), unreadable.end());
#endif

    const std::string archive = path("out/new.grf");
    const std::optional<CliResult> result = runCliProgramUnprivileged({"add", archive, path("tree")}, scratch.native());
    if (!result) GTEST_SKIP() << "this system lets no test drop root's rights";
    EXPECT_EQ(result->status, 1) << result->err;
    for (const std::string& line : expected) {
        EXPECT_NE(result->err.find(line), std::string::npos) << line << "in:\n" << result->err;
    }
    uint64_t skipped = expected.size();
#ifndef _WIN32
    // Whichever of the two the system lists first is kept.
    const bool upperKept = result->err.find("skipped data\\sub\\faq.html: differs only in letter case from "
                                            "data\\sub\\FAQ.html, added before it, and entry names ignore case\n") !=
                           std::string::npos;
    const bool lowerKept = result->err.find("skipped data\\sub\\FAQ.html: differs only in letter case from "
                                            "data\\sub\\faq.html, added before it, and entry names ignore case\n") !=
                           std::string::npos;
    EXPECT_NE(upperKept, lowerKept) << result->err;
    ++skipped;
#endif
    EXPECT_NE(result->err.find(std::to_string(added) + " added, " + std::to_string(skipped) + " skipped\n"),
              std::string::npos)
        << result->err;
    EXPECT_EQ(std::count(result->err.begin(), result->err.end(), '\n'), int(skipped) + 1) << result->err;
    std::vector<std::string> names = listedNames(archive);
    std::sort(names.begin(), names.end());
#ifdef _WIN32
    EXPECT_EQ(names, std::vector<std::string>{"data\\\\a.txt"});
#else
    EXPECT_EQ(names, (std::vector<std::string>{"data\\\\a.txt", upperKept ? "data\\\\sub\\\\FAQ.html" : "data\\\\sub\\\\faq.html"}));
#endif
}

#ifndef _WIN32
// The 259 characters of Windows paths are no limit here: a folder below a long path is added.
TEST_F(Cli, AddTakesAFolderBelowALongPath) {
    const std::string deep = path(std::string(150, 'd') + "/" + std::string(120, 'e'));
    fs::create_directories(deep);
    writeFileBytes(deep + "/f.txt", "deep");
    const std::string archive = path("long.grf");
    const CliResult added = run({"add", archive, deep});
    EXPECT_EQ(added.status, 0) << added.err;
    EXPECT_TRUE(added.err.empty()) << added.err;
    EXPECT_EQ(listedNames(archive), std::vector<std::string>{"data\\\\f.txt"});
}
#endif
// On Linux a file name is bytes: one that is not UTF-8 is left out of an add for that cause, and
// named with its byte as it is, not as a character it does not hold.
TEST_F(Cli, AddNamesAFileWhoseNameIsNotUtf8ByItsBytes) {
#ifdef _WIN32
    GTEST_SKIP() << "file names are UTF-16 on this system";
#else
    fs::create_directories(path("tree"));
    writeFileBytes(path("tree/a.txt"), "a");
    writeFileBytes(path("tree") + "/\xff.txt", "not UTF-8");
    const std::string archive = path("new.grf");
    const CliResult added = run({"add", archive, path("tree"), "--json"});
    EXPECT_EQ(added.status, 1);
    EXPECT_EQ(added.err, "quarnel-cli: skipped data\\\\xff.txt: the file name is not valid UTF-8\n1 added, 1 skipped\n");
    EXPECT_NE(added.out.find("{\"skipped\":\"data\\\\\\\\xff.txt\""), std::string::npos) << added.out;
    EXPECT_EQ(listedNames(archive), std::vector<std::string>{"data\\\\a.txt"});
#endif
}
