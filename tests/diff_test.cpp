// Runs `quarnel-cli diff` on archives and folders made here and checks what it lists and answers.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/cli_archive_writer.h"
#include "tests/support/cli_run.h"
#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

struct Item {
    std::string name;  // an entry name, data\...
    std::string data;
    int level = 6;
    bool damaged = false;  // a stream that does not inflate, claiming data.size() bytes
    bool cutShort = false; // the stream's second half missing: damaged past its first
};

// One side of a comparison: an archive of these entries, or a folder of these files.
struct Side {
    bool folder = false;
    std::vector<Item> items;
};

// Large enough for several deflate blocks, so that one changed byte sits deep inside a stream.
std::string largeText(char changedByte = 'x', size_t size = 300000) {
    std::string text;
    for (uint64_t i = 0; text.size() < size; ++i) text += "line " + std::to_string(i * 7919 % 100003) + "\n";
    text[size - 50000] = changedByte;
    return text;
}

class Diff : public ::testing::Test {
protected:
    TempDir dir;
    TempDir scratch;

    CliResult run(const std::vector<std::string>& arguments) { return runCliProgram(arguments, scratch.native()); }
    std::string path(const std::string& relative) { return dir.native(std::u16string(relative.begin(), relative.end())); }

    // Writes `side` as `name` (an archive file, or a folder whose files add would name so).
    std::string make(const std::string& name, const Side& side) {
        const std::string where = path(name);
        if (side.folder) {
            for (const Item& item : side.items) {
                std::string relative = item.name.substr(5);  // past "data\"
                for (char& c : relative) c = c == '\\' ? '/' : c;
                const fs::path file = fs::path(where) / relative;
                fs::create_directories(file.parent_path());
                writeFileBytes(file.string(), item.data);
            }
            return where;
        }
        CliArchiveWriter writer;
        for (const Item& item : side.items) {
            if (item.damaged) {
                writer.addRaw(item.name, "not a zlib stream", uint32_t(item.data.size()));
            } else {
                std::string stream = compressForTest(item.data, item.level);
                if (item.cutShort) stream.resize(stream.size() / 2);
                writer.addRaw(item.name, stream, uint32_t(item.data.size()));
            }
        }
        writer.writeTo(where);
        return where;
    }
};

TEST_F(Diff, ListsWhatDiffersAndAnswersWithStatus) {
    const std::string big = largeText();
    const std::string bigChanged = largeText('y');
    // Past the size that extraction reads and inflates in pieces.
    const std::string huge = largeText('x', 40u << 20);
    const std::string hugeChanged = largeText('y', 40u << 20);
    struct Case {
        const char* what;
        Side oldSide;
        Side newSide;
        std::string out;
        int status;
        std::vector<std::string> options = {};
    } cases[] = {
        {"same archive contents", {false, {{"data\\a.txt", "hello"}, {"data\\sub\\b.bin", big}}},
         {false, {{"data\\a.txt", "hello"}, {"data\\sub\\b.bin", big}}}, "", 0},
        {"same contents at two levels", {false, {{"data\\a.txt", big, 1}, {"data\\b.txt", "raw", 0}}},
         {false, {{"data\\a.txt", big, 9}, {"data\\b.txt", "raw", 9}}}, "", 0},
        {"one byte changed in a large entry", {false, {{"data\\a.txt", "hello"}, {"data\\big.txt", big}}},
         {false, {{"data\\a.txt", "hello"}, {"data\\big.txt", bigChanged}}},
         "changed  data\\big.txt (" + std::to_string(big.size()) + " -> " + std::to_string(big.size()) + " bytes)\n", 1},
        {"one byte changed in an entry too large to hold whole", {false, {{"data\\huge.txt", huge}}},
         {false, {{"data\\huge.txt", hugeChanged}}},
         "changed  data\\huge.txt (" + std::to_string(huge.size()) + " -> " + std::to_string(huge.size()) + " bytes)\n", 1},
        {"the same entry too large to hold whole, against a folder", {false, {{"data\\huge.txt", huge}}},
         {true, {{"data\\huge.txt", huge}}}, "", 0},
        {"filter", {false, {{"data\\a.txt", "hello"}, {"data\\b.bin", "b"}}},
         {false, {{"data\\a.txt", "jello"}, {"data\\b.bin", "B"}, {"data\\c.txt", "c"}}},
         "changed  data\\b.bin (1 -> 1 bytes)\n", 1, {"--filter", "*.BIN"}},
        {"size changed", {false, {{"data\\a.txt", "hello"}}}, {false, {{"data\\a.txt", "hello!"}}},
         "changed  data\\a.txt (5 -> 6 bytes)\n", 1},
        {"entries on one side only", {false, {{"data\\a.txt", "hello"}, {"data\\gone.txt", "old"}}},
         {false, {{"data\\a.txt", "hello"}, {"data\\new\\c.txt", "fresh!"}}},
         "removed  data\\gone.txt (3 bytes)\nadded    data\\new\\c.txt (6 bytes)\n", 1},
        {"names differing only in ASCII case", {false, {{"data\\Sub\\A.TXT", "hello"}}},
         {false, {{"data\\sub\\a.txt", "hello"}}}, "", 0},
        {"archive against folder", {false, {{"data\\a.txt", "hello"}, {"data\\sub\\b.txt", "one"}, {"data\\c.txt", "c"}}},
         {true, {{"data\\a.txt", "hello"}, {"data\\sub\\b.txt", "two"}, {"data\\d.txt", "dd"}}},
         "changed  data\\sub\\b.txt (3 -> 3 bytes)\nremoved  data\\c.txt (1 bytes)\nadded    data\\d.txt (2 bytes)\n", 1},
        {"folder against archive", {true, {{"data\\a.txt", "hello"}, {"data\\big.txt", big}}},
         {false, {{"data\\A.txt", "hello"}, {"data\\big.txt", big, 1}}}, "", 0},
        {"folder against folder", {true, {{"data\\a.txt", "hello"}}}, {true, {{"data\\a.txt", "jello"}}},
         "changed  data\\a.txt (5 -> 5 bytes)\n", 1},
    };
    int index = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string suffix = std::to_string(index++);
        const std::string oldPath = make("old" + suffix + (c.oldSide.folder ? "" : ".grf"), c.oldSide);
        const std::string newPath = make("new" + suffix + (c.newSide.folder ? "" : ".grf"), c.newSide);
        std::vector<std::string> arguments{"diff", oldPath, newPath, "--quiet"};
        arguments.insert(arguments.end(), c.options.begin(), c.options.end());
        const CliResult result = run(arguments);
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_EQ(result.out, c.out);
    }
}

// A damaged entry is no difference: it is named with its cause on either side, and the status says
// the answer is not whole, while the other entries are still compared.
TEST_F(Diff, NamesAnEntryThatCannotBeReadOnEitherSide) {
    const Side sound{false, {{"data\\a.txt", "hello"}, {"data\\b.txt", "bee"}}};
    const Side damaged{false, {{"data\\a.txt", "hello", 6, true}, {"data\\b.txt", "BEE"}}};
    for (const bool damagedIsNew : {false, true}) {
        SCOPED_TRACE(damagedIsNew ? "damaged in NEW" : "damaged in OLD");
        const std::string oldPath = make(damagedIsNew ? "sound.grf" : "damaged.grf", damagedIsNew ? sound : damaged);
        const std::string newPath = make(damagedIsNew ? "damaged.grf" : "sound.grf", damagedIsNew ? damaged : sound);
        const CliResult result = run({"diff", oldPath, newPath, "--quiet"});
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "changed  data\\b.txt (3 -> 3 bytes)\n");
        EXPECT_NE(result.err.find("data\\a.txt"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("damaged"), std::string::npos) << result.err;
        EXPECT_NE(result.err.find("1 entry could not be compared"), std::string::npos) << result.err;
    }
}

// Entries too large to hold whole are compared a piece at a time: damage is found where the bytes
// before it agree, and the comparison ends at the first byte that differs, before any damage after it.
TEST_F(Diff, LargeEntriesAreComparedPieceByPiece) {
    const std::string huge = largeText('x', 40u << 20);
    std::string changedEarly = huge;
    changedEarly[100] = '#';
    const struct {
        const char* what;
        std::string newData;
        int status;
        std::string out;
    } cases[] = {
        {"damaged where the bytes agree", huge, 2, ""},
        {"differing before the damage", changedEarly, 1,
         "changed  data\\huge.txt (" + std::to_string(huge.size()) + " -> " + std::to_string(huge.size()) + " bytes)\n"},
    };
    const std::string oldPath = make("old.grf", {false, {{"data\\huge.txt", huge, 1}}});
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Item cut{"data\\huge.txt", c.newData, 1};
        cut.cutShort = true;
        const std::string newPath = make("new" + std::to_string(index++) + ".grf", {false, {cut}});
        const CliResult result = run({"diff", oldPath, newPath, "--quiet"});
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_EQ(result.out, c.out);
        if (c.status == 2) {
            EXPECT_NE(result.err.find("data\\huge.txt"), std::string::npos) << result.err;
        }
    }
}

#ifndef _WIN32
// A folder's file that add would leave out cannot be compared either: named, and the answer is 2.
TEST_F(Diff, FileLeftOutOfAFolderIsTrouble) {
    const std::string oldPath = make("old.grf", {false, {{"data\\a.txt", "hello"}}});
    const std::string folder = make("new", {true, {{"data\\a.txt", "hello"}}});
    writeFileBytes(folder + "/b\\c.txt", "x");
    const CliResult result = run({"diff", oldPath, folder, "--quiet"});
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("skipped"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("1 file was left out of the comparison"), std::string::npos) << result.err;
}
#endif

TEST_F(Diff, JsonGivesALineEach) {
    const std::string oldPath = make("old.grf", {false, {{"data\\a.txt", "hello"}, {"data\\b.txt", "b"}}});
    const std::string newPath = make("new.grf", {false, {{"data\\a.txt", "hello!"}, {"data\\c\"q.txt", "cc"}}});
    const CliResult result = run({"diff", oldPath, newPath, "--json", "--quiet"});
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(result.out,
              "{\"status\":\"changed\",\"name\":\"data\\\\a.txt\",\"old_size\":5,\"new_size\":6}\n"
              "{\"status\":\"removed\",\"name\":\"data\\\\b.txt\",\"old_size\":1}\n"
              "{\"status\":\"added\",\"name\":\"data\\\\c\\\"q.txt\",\"new_size\":2}\n");
}

// Both sides open the one file to read, beside each other.
TEST_F(Diff, SameArchiveTwiceIsEqual) {
    const std::string archive = make("one.grf", {false, {{"data\\a.txt", "hello"}, {"data\\b.txt", largeText()}}});
    const CliResult result = run({"diff", archive, archive, "--quiet"});
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.out, "");
}

TEST_F(Diff, MissingSideIsTrouble) {
    const std::string oldPath = make("old.grf", {false, {{"data\\a.txt", "hello"}}});
    const CliResult result = run({"diff", oldPath, path("nowhere.grf"), "--quiet"});
    EXPECT_EQ(result.status, 2);
    EXPECT_TRUE(result.out.empty());
    EXPECT_NE(result.err.find("nowhere.grf"), std::string::npos) << result.err;
}

// The patch holds what NEW added or changed; merged into OLD it leaves only the removed entries
// between that and NEW, from an archive as from a folder.
TEST_F(Diff, PatchMergedIntoOldGivesNewButForRemovedEntries) {
    const std::string big = largeText();
    // Past the size a save holds whole: copied in pieces.
    const std::string huge = largeText('z', 40u << 20);
    const Side oldSide{false,
                       {{"data\\same.txt", "same"}, {"data\\big.txt", big}, {"data\\gone.txt", "gone"}, {"data\\Case.txt", "x"}}};
    for (const bool newIsFolder : {false, true}) {
        SCOPED_TRACE(newIsFolder ? "NEW a folder" : "NEW an archive");
        const std::string tag = newIsFolder ? "folder" : "archive";
        const std::string oldPath = make("old-" + tag + ".grf", oldSide);
        Side newSide{newIsFolder,
                     {{"data\\same.txt", "same", 1}, {"data\\big.txt", largeText('y'), 1}, {"data\\new\\n.txt", "new"},
                      {"data\\case.txt", "y"}}};
        if (!newIsFolder) newSide.items.push_back({"data\\huge.txt", huge, 1});
        const std::string newPath = make("new-" + tag + (newIsFolder ? "" : ".grf"), newSide);
        const std::string patch = path("patch-" + tag + ".gpf");

        const CliResult diffed = run({"diff", oldPath, newPath, "--patch", patch, "--level", "9", "--quiet"});
        ASSERT_EQ(diffed.status, 1) << diffed.err;
        EXPECT_NE(diffed.out.find("removed  data\\gone.txt"), std::string::npos) << diffed.out;

        // The patch holds exactly the added and changed entries.
        const CliResult patchAgainstNew = run({"diff", patch, newPath, "--quiet"});
        EXPECT_EQ(patchAgainstNew.status, 1) << patchAgainstNew.err;
        EXPECT_EQ(patchAgainstNew.out, "added    data\\same.txt (4 bytes)\n") << patchAgainstNew.out;

        if (!newIsFolder) {
            // Another archive's streams are copied as stored, not compressed again at --level;
            // the large one goes through in pieces.
            const std::string patchBytes = readFileBytes(patch);
            for (const Item& item : newSide.items) {
                if (item.name == "data\\same.txt") continue;
                EXPECT_NE(patchBytes.find(compressForTest(item.data, item.level)), std::string::npos) << item.name;
            }
        }

        const CliResult merged = run({"merge", oldPath, patch, "--quiet"});
        ASSERT_EQ(merged.status, 0) << merged.err;
        const CliResult after = run({"diff", oldPath, newPath, "--quiet"});
        EXPECT_EQ(after.status, 1) << after.err;
        EXPECT_EQ(after.out, "removed  data\\gone.txt (4 bytes)\n");

        // An existing patch is kept unless --force.
        const CliResult again = run({"diff", oldPath, newPath, "--patch", patch, "--quiet"});
        EXPECT_EQ(again.status, 2);
        EXPECT_NE(again.err.find("--force"), std::string::npos) << again.err;
    }
}

// A copied stream is still proven whole: a damaged entry does not reach the patch unnoticed.
TEST_F(Diff, PatchRefusesAnEntryThatDoesNotInflate) {
    const std::string oldPath = make("old.grf", {false, {{"data\\a.txt", "a"}}});
    const std::string newPath = make("new.grf", {false, {{"data\\a.txt", "a"}, {"data\\bad.txt", "bad bytes", 6, true}}});
    const CliResult diffed = run({"diff", oldPath, newPath, "--patch", path("patch.gpf"), "--quiet"});
    EXPECT_EQ(diffed.status, 2) << diffed.out;
    EXPECT_NE(diffed.err.find("data\\bad.txt"), std::string::npos) << diffed.err;
    EXPECT_FALSE(fs::exists(path("patch.gpf")));
}

}  // namespace
