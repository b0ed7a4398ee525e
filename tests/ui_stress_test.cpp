// The list keeps painting and sorting while tasks change or replace the archive under it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "archive/model/archive.h"
#include "tests/support/archive_writer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/ui_harness.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "ui/wide.h"

namespace {

namespace fs = std::filesystem;

class ListStressTest : public UiTest {
protected:
    void writeFiles(const TempDir& folder, int first, int count) {
        for (int i = first; i < first + count; ++i) {
            std::string folderName = "d";
            folderName += std::to_string(i % 16);
            std::string fileName = "f";
            fileName += std::to_string(i);
            fileName += ".txt";
            const fs::path target = fs::path(folder.native()) / folderName / fileName;
            fs::create_directories(target.parent_path());
            std::ofstream(target, std::ios::binary) << "file " << i << std::string(static_cast<size_t>(i % 300), 'x');
        }
    }

    // Sorts, repaints and reads cells until the task ends; answers how many rounds ran meanwhile.
    // The window stays busy until it handles the task's end, which only pump() lets it do, so
    // every task gets at least one round however the threads are scheduled. The time limit is
    // only for a task that hangs.
    int hammerListUntilIdle() {
        int rounds = 0;
        const HWND list = item(IDC_ENTRY_LIST);
        const DWORD start = GetTickCount();
        while (app.uiState == UI_BUSY && GetTickCount() - start < 120000) {
            clickHeader(rounds % 4);
            if (rounds % 4 == 0) {
                InvalidateRect(list, nullptr, TRUE);
                UpdateWindow(list);
            }
            const int rows = rowCount();
            for (int k = 0; k < 8 && rows > 0; ++k) {
                const int row = (rounds * 7919 + k * 104729) % rows;
                // A row read from freed or half-changed memory would not look like one of ours.
                const std::wstring name = cell(row, 0);
                const bool plausible = name.rfind(L"data\\d", 0) == 0 && name.size() > 9 &&
                                       name.compare(name.size() - 4, 4, L".txt") == 0;
                if (!plausible) {
                    ++implausibleCells;
                }
                const int image = rowImage(row);
                if (image < 0 || image > 2) {
                    ++implausibleCells;
                }
            }
            // The worker's sent messages get through here, and it changes the archive right after:
            // no waiting, so that its changes overlap the next round's reads.
            pump();
            ++rounds;
        }
        return rounds;
    }

    TempDir dir;
    int implausibleCells = 0;
};

TEST_F(ListStressTest, SortingAndPaintingDuringAddingSavingAndRecompressing) {
    startWorker();
    TestArchive writer;
    for (int i = 0; i < 1000; ++i) {
        writer.add("data\\d" + std::to_string(i % 16) + "\\f" + std::to_string(i) + ".txt", "stored " + std::to_string(i));
    }
    const std::u16string path = writer.writeTo(dir);
    openArchive(path);
    ASSERT_EQ(rowCount(), 1000);

    TempDir source;
    writeFiles(source, 750, 500);
    seamLog.folderAnswers.push_back(asWide(source.path()));
    click(IDC_ADD_DIRECTORY);
    const int firstAdd = hammerListUntilIdle();
    ASSERT_EQ(app.uiState, UI_ARCHIVE_OPEN);
    ASSERT_EQ(rowCount(), 1500) << "rows for stored entries stay, now some of them deleted";

    // Again, with more files: namesakes among the pending rows are re-sourced, more are appended,
    // and the added vector grows while rows point into it.
    writeFiles(source, 1250, 600);
    seamLog.folderAnswers.push_back(asWide(source.path()));
    click(IDC_ADD_DIRECTORY);
    const int secondAdd = hammerListUntilIdle();
    ASSERT_EQ(app.uiState, UI_ARCHIVE_OPEN);
    EXPECT_EQ(rowCount(), 2100);
    EXPECT_EQ(statusText(), L"显示 2100 个文件 / 添加 1100 个文件 / 总共 2100 个文件");

    seamLog.boxAnswers.push_back(IDYES);
    click(IDC_CLOSE);
    const int save = hammerListUntilIdle();
    ASSERT_EQ(app.uiState, UI_NO_ARCHIVE);

    openArchive(path);
    EXPECT_EQ(rowCount(), 1850);
    SendMessageW(item(IDC_LEVEL), CB_SETCURSEL, 9, 0);
    seamLog.boxAnswers.push_back(IDYES);
    click(IDC_RECOMPRESS);
    const int recompress = hammerListUntilIdle();
    ASSERT_EQ(app.uiState, UI_ARCHIVE_OPEN);
    EXPECT_EQ(rowCount(), 1850);
    EXPECT_EQ(seamLog.boxes.size(), 2u) << "no error box";

    // Rows and cells agree with the archive after all that.
    for (int row = 0; row < rowCount(); row += 37) {
        const GrfEntry* const entry = entryForIndex(app.visibleEntries[row]);
        ASSERT_NE(entry, nullptr);
        EXPECT_EQ(cell(row, 0), asWide(entry->nameAnsi()));
        EXPECT_EQ(cell(row, 2), std::to_wstring(entry->originalSize()));
    }
    std::printf("list rounds during: first add %d, second add %d, save %d, recompress %d\n", firstAdd, secondAdd,
                save, recompress);
    for (const int rounds : {firstAdd, secondAdd, save, recompress}) EXPECT_GT(rounds, 0);
    EXPECT_EQ(implausibleCells, 0);
}

}  // namespace
