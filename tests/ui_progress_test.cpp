// The worker's messages on the window: busy state, progress bar, taskbar, and each task's end.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "archive/model/archive.h"
#include "archive/base/failure_reason.h"
#include "archive/base/result_codes.h"
#include "platform/utf8.h"
#include "tests/support/archive_writer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/ui_harness.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "ui/wide.h"
#include "worker/task_args.h"

namespace {

class TaskProgressTest : public UiTest {
protected:
    void openSample() {
        openArchive(TestArchive().add("data\\a.txt", "alpha").add("data\\b.txt", "bravo").writeTo(dir));
    }
    void sendTotal(uint64_t total) {
        SendMessageW(dialog, WM_TASK_TOTAL, highHalf(total), static_cast<LPARAM>(lowHalf(total)));
    }
    void postProgress(uint64_t done) {
        PostMessageW(dialog, WM_TASK_PROGRESS, highHalf(done), static_cast<LPARAM>(lowHalf(done)));
    }
    bool marquee() const { return (GetWindowLongPtrW(item(IDC_PROGRESS), GWL_STYLE) & PBS_MARQUEE) != 0; }
    int barTop() const { return static_cast<int>(SendMessageW(item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0)); }
    int barPosition() const { return static_cast<int>(SendMessageW(item(IDC_PROGRESS), PBM_GETPOS, 0, 0)); }
    FakeTaskbar* announceTaskbar() {
        SendMessageW(dialog, app.taskbarButtonCreatedMessage, 0, 0);
        return static_cast<FakeTaskbar*>(app.taskbarList.get());
    }

    TempDir dir;
};

TEST_F(TaskProgressTest, AddingTasksRunTheMarqueeOthersTheRange) {
    openSample();
    SendMessageW(dialog, WM_TASK_STARTED, TASK_ADD_DIRECTORY, 0);
    EXPECT_EQ(app.uiState, UI_BUSY);
    EXPECT_FALSE(IsWindowEnabled(item(IDC_CLOSE)));
    EXPECT_TRUE(marquee());
    const wchar_t status[] = L"data\\folder\\file.txt";
    SendMessageW(dialog, WM_TASK_STATUS, reinterpret_cast<WPARAM>(status), 0);
    EXPECT_EQ(statusText(), status);


    {
        GrfArchive& archive = *app.currentArchive;
        archive.addFile("data\\folder\\file.txt", u"C:\\x", 3);
    }
    sendFinished(TASK_ADD_DIRECTORY, 0);
    EXPECT_FALSE(marquee());
    EXPECT_EQ(app.uiState, UI_ARCHIVE_OPEN);
    EXPECT_EQ(rowCount(), 3) << "the new entries become rows";
    EXPECT_EQ(statusText(), L"显示 3 个文件 / 添加 1 个文件 / 总共 3 个文件");
    EXPECT_EQ(title().back(), L'*');
    EXPECT_TRUE(seamLog.boxes.empty()) << "an adding task's result is not shown";

    SendMessageW(dialog, WM_TASK_STARTED, TASK_EXTRACT_ALL, 0);
    EXPECT_FALSE(marquee());
    sendTotal(1000);
    postProgress(250);
    pump();
    EXPECT_EQ(barTop(), 1000);
    EXPECT_EQ(barPosition(), 250);
}

TEST_F(TaskProgressTest, LargeTotalsAreScaledToTheBarsRange) {
    openSample();
    const struct { uint64_t total; uint64_t done; int top; int position; } cases[] = {
        {0, 0, 0, 0},
        {0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF, 0x7FFFFFFF},
        {0x7FFFFFFF, 0x40000000, 0x7FFFFFFF, 0x40000000},
        {0x80000000ull, 0x80000000ull, 0x7FFFFFFF, 0x7FFFFFFF},
        {0x80000000ull, 0x40000000ull, 0x7FFFFFFF, 0x3FFFFFFF},
        {5ull << 32, 5ull << 31, 0x7FFFFFFF, 0x3FFFFFFF},
        {5ull << 32, 5ull << 32, 0x7FFFFFFF, 0x7FFFFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.total);
        SendMessageW(dialog, WM_TASK_STARTED, TASK_EXTRACT_ALL, 0);
        sendTotal(c.total);
        EXPECT_EQ(app.shownTotal, c.total);
        postProgress(c.done);
        pump();
        EXPECT_EQ(barTop(), c.top);
        EXPECT_EQ(barPosition(), c.position);
        sendFinished(TASK_EXTRACT_ALL, 0);
    }
}

TEST_F(TaskProgressTest, TaskbarFollowsTheTaskOnceAnnounced) {
    openSample();
    // No announcement: the task still runs and ends, and only the window shows progress.
    SendMessageW(dialog, WM_TASK_STARTED, TASK_SAVE, 0);
    sendTotal(100);
    postProgress(100);
    pump();
    EXPECT_EQ(barPosition(), 100);
    sendFinished(TASK_EXTRACT_ALL, 0);
    EXPECT_EQ(app.taskbarList.get(), nullptr);

    seamLog.taskbarCreationFails = true;
    EXPECT_EQ(announceTaskbar(), nullptr);
    seamLog.taskbarCreationFails = false;
    FakeTaskbar* const first = announceTaskbar();
    ASSERT_NE(first, nullptr);
    first->AddRef();  // keep it for a look after the window lets go of it
    FakeTaskbar* const second = announceTaskbar();
    ASSERT_NE(second, first);
    EXPECT_EQ(first->references, 1) << "the replaced object was released";
    first->Release();

    SendMessageW(dialog, WM_TASK_STARTED, TASK_EXTRACT_ALL, 0);
    // From here on the window is busy: the desktop's activations, which the pump may deliver
    // whenever it likes, change nothing.
    const size_t before = second->states.size();
    sendTotal(5ull << 32);
    postProgress(3ull << 32);
    pump();
    sendFinished(TASK_EXTRACT_ALL, 0);
    EXPECT_EQ(std::vector<TBPFLAG>(second->states.begin() + std::ptrdiff_t(before), second->states.end()),
              (std::vector<TBPFLAG>{TBPF_INDETERMINATE, TBPF_NOPROGRESS}));
    EXPECT_EQ(second->values, (std::vector<std::pair<ULONGLONG, ULONGLONG>>{{3ull << 32, 5ull << 32}}))
        << "the taskbar gets the exact 64-bit values";
}

TEST_F(TaskProgressTest, TaskEndingBehindAnotherWindowLeavesTheTaskbarPaused) {
    openSample();
    FakeTaskbar* const taskbar = announceTaskbar();
    seamLog.windowInFront = false;
    SendMessageW(dialog, WM_TASK_STARTED, TASK_EXTRACT_ONE, 0);
    SendMessageW(dialog, WM_ACTIVATE, WA_INACTIVE, 0);  // busy: the activation changes nothing
    sendFinished(TASK_EXTRACT_ONE, 0);
    EXPECT_EQ(taskbar->states.back(), TBPF_PAUSED);
    const size_t calls = taskbar->states.size();
    SendMessageW(dialog, WM_ACTIVATE, WA_ACTIVE, 0);
    ASSERT_EQ(taskbar->states.size(), calls + 1);
    EXPECT_EQ(taskbar->states.back(), TBPF_NOPROGRESS);
}

TEST_F(TaskProgressTest, ExtractionAndMergeErrorsShowTheirTextOthersDoNot) {
    openSample();
    const struct { uint32_t code; intptr_t result; const char16_t* shown; } cases[] = {
        {TASK_EXTRACT_ONE, RESULT_OPEN_FAILED, resultText(RESULT_OPEN_FAILED)},
        {TASK_EXTRACT_SELECTED, RESULT_BAD_DATA, resultText(RESULT_BAD_DATA)},
        {TASK_EXTRACT_ALL, 0, nullptr},
        // A merge whose archive did not open says so.
        {TASK_ADD_ARCHIVE, RESULT_INVALID_ARCHIVE, resultText(RESULT_INVALID_ARCHIVE)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        seamLog.boxes.clear();
        SendMessageW(dialog, WM_TASK_STARTED, c.code, 0);
        const wchar_t busyText[] = L"working";
        SendMessageW(dialog, WM_TASK_STATUS, reinterpret_cast<WPARAM>(busyText), 0);
        sendFinished(c.code, c.result);
        EXPECT_EQ(app.uiState, UI_ARCHIVE_OPEN);
        EXPECT_EQ(statusText(), L"显示 2 个文件 / 添加 0 个文件 / 总共 2 个文件");
        if (c.shown == nullptr) {
            EXPECT_TRUE(seamLog.boxes.empty());
            continue;
        }
        ASSERT_EQ(seamLog.boxes.size(), 1u);
        EXPECT_EQ(seamLog.boxes[0].text, asWide(c.shown));
        EXPECT_EQ(seamLog.boxes[0].caption, L"错误");
        EXPECT_EQ(seamLog.boxes[0].type, static_cast<UINT>(MB_ICONERROR));
    }
}

// What a task failed or left out reaches one box after it, with the causes: the items it named,
// and for a failed save the save's own cause instead of the code's text.
TEST_F(TaskProgressTest, FailedItemsAndCausesShowInOneBoxAfterTheTask) {
    const FailureReason fullDisk = [] {
        FailureReason reason = systemFailure(RESULT_OPEN_FAILED, Operation::WRITE, ENOSPC, u"data\\a.txt");
        reason.subjectIsEntry = true;
        return reason;
    }();
    const FailureReason unreadable = systemFailure(RESULT_OPEN_FAILED, Operation::READ, EIO, u"C:\\src\\x.txt");
    const FailureReason saveFull = systemFailure(RESULT_BAD_LENGTH, Operation::WRITE, ENOSPC, u"C:\\a.grf");
    const std::wstring noSpace = asWide(platform::utf8ToUtf16(std::strerror(ENOSPC)));
    const std::wstring ioError = asWide(platform::utf8ToUtf16(std::strerror(EIO)));
    const struct {
        const char* what;
        uint32_t code;
        int32_t result;
        const FailureReason* item;
        const FailureReason* archiveReason;
        std::vector<std::wstring> shown;
    } cases[] = {
        {"extraction", TASK_EXTRACT_SELECTED, 0, &fullDisk, nullptr,
         {L"有 1 个文件被跳过或失败", L"data\\a.txt: " + noSpace}},
        {"merge", TASK_ADD_ARCHIVE, 0, &fullDisk, nullptr, {L"有 1 个文件被跳过或失败", L"data\\a.txt: "}},
        {"save on a full disk", TASK_SAVE, RESULT_BAD_LENGTH, nullptr, &saveFull,
         {L"保存失败，文件未被修改。\n" + std::wstring(L"C:\\a.grf: ") + noSpace}},
        {"save of an unreadable file", TASK_SAVE, RESULT_OPEN_FAILED, &unreadable, &unreadable,
         {L"保存失败，文件未被修改。", L"有 1 个文件被跳过或失败", L"C:\\src\\x.txt: " + ioError}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        openSample();
        seamLog.boxes.clear();
        SendMessageW(dialog, WM_TASK_STARTED, c.code, 0);
        if (c.item != nullptr) SendMessageW(dialog, WM_TASK_ITEM_FAILED, 0, reinterpret_cast<LPARAM>(c.item));
        if (c.archiveReason != nullptr) app.currentArchive->lastError = *c.archiveReason;
        sendFinished(c.code, c.result);
        ASSERT_EQ(seamLog.boxes.size(), 1u);
        for (const std::wstring& text : c.shown) {
            EXPECT_NE(seamLog.boxes[0].text.find(text), std::wstring::npos) << ::testing::PrintToString(seamLog.boxes[0].text);
        }
        // The cause is told, not the code's misleading text.
        EXPECT_EQ(seamLog.boxes[0].text.find(asWide(resultText(RESULT_BAD_LENGTH))), std::wstring::npos);
    }
}

TEST_F(TaskProgressTest, FailedRecompressStillContinuesWithTheArchiveItBringsBack) {
    openSample();
    seamLog.boxAnswers.push_back(IDYES);
    click(IDC_RECOMPRESS);
    std::unique_ptr<TaskArgs> handed;
    ASSERT_EQ(takeHandedOverTask(&handed), static_cast<uint32_t>(TASK_RECOMPRESS));
    auto* const record = static_cast<RecompressArgs*>(handed.get());
    SendMessageW(dialog, WM_TASK_STARTED, TASK_RECOMPRESS, 0);
    EXPECT_EQ(rowCount(), 0);

    // As the worker would: the old archive is gone, a reopened one comes back with the error.
    record->archive.reset();
    auto reopened = std::make_unique<GrfArchive>();
    ASSERT_TRUE(reopened->open(TestArchive().add("data\\x.txt", "x").add("data\\y.txt", "y")
                                   .add("data\\z.txt", "z").writeTo(dir, u"reopened.grf")));
    const GrfArchive* const continued = reopened.get();
    record->resultArchive = std::move(reopened);
    handed.release();
    sendFinished(TASK_RECOMPRESS, reinterpret_cast<LPARAM>(record), RESULT_BAD_LENGTH);
    EXPECT_EQ(app.currentArchive.get(), continued);
    ASSERT_EQ(seamLog.boxes.size(), 2u);
    EXPECT_EQ(seamLog.boxes[1].text, asWide(resultText(RESULT_BAD_LENGTH)));
    EXPECT_EQ(seamLog.boxes[1].caption, L"错误");
    EXPECT_EQ(names(), (std::vector<std::wstring>{L"data\\x.txt", L"data\\y.txt", L"data\\z.txt"}));
    EXPECT_EQ(app.uiState, UI_ARCHIVE_OPEN);

    // A record without an archive to continue with (a task that broke off) leaves no archive open.
    seamLog.boxAnswers.push_back(IDYES);
    click(IDC_RECOMPRESS);
    ASSERT_EQ(takeHandedOverTask(&handed), static_cast<uint32_t>(TASK_RECOMPRESS));
    auto* const broken = static_cast<RecompressArgs*>(handed.get());
    broken->archive.reset();
    handed.release();
    sendFinished(TASK_RECOMPRESS, reinterpret_cast<LPARAM>(broken), RESULT_BAD_DATA);
    EXPECT_EQ(app.currentArchive, nullptr);
    EXPECT_EQ(app.uiState, UI_NO_ARCHIVE);
    EXPECT_EQ(title(), L"Quarnel v2");
}

// The real worker and task procedures behind the window: add a folder, save on close, open the
// result, extract everything and recompress it.
TEST_F(TaskProgressTest, RealTasksRoundTripAFolderThroughAnArchive) {
    namespace fs = std::filesystem;
    startWorker();
    TempDir source;
    const struct { const char16_t* name; size_t size; } files[] = {
        {u"top.txt", 0}, {u"sub\\one.bin", 65536}, {u"sub\\deeper\\two.txt", 70001}};
    for (const auto& f : files) {
        const fs::path target = fs::path(source.native(f.name));
        fs::create_directories(target.parent_path());
        const auto bytes = sampleData(f.size, static_cast<uint32_t>(f.size));
        std::ofstream(target, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                     static_cast<std::streamsize>(bytes.size()));
    }
    const std::u16string archivePath = dir.file(u"made.grf");
    seamLog.fileAnswers.push_back(asWide(archivePath));
    click(IDC_NEW);
    seamLog.folderAnswers.push_back(asWide(source.path()));
    click(IDC_ADD_DIRECTORY);
    ASSERT_TRUE(pumpUntil([] { return app.uiState == UI_ARCHIVE_OPEN; }));
    EXPECT_EQ(rowCount(), 3);

    seamLog.boxAnswers.push_back(IDYES);
    click(IDC_CLOSE);
    ASSERT_TRUE(pumpUntil([] { return app.uiState == UI_NO_ARCHIVE; }));
    openArchive(archivePath);
    EXPECT_EQ(statusText(), L"显示 3 个文件 / 添加 0 个文件 / 总共 3 个文件");

    TempDir out;
    seamLog.folderAnswers.push_back(asWide(out.path()));
    click(IDC_EXTRACT_ALL);
    ASSERT_TRUE(pumpUntil([] { return app.uiState == UI_ARCHIVE_OPEN; }));
    EXPECT_TRUE(seamLog.boxes.size() == 1) << "only the save question, no error";
    for (const auto& f : files) {
        const std::u16string inArchive = std::u16string(u"data\\") + f.name;
        EXPECT_EQ(readWholeFile(out.native(inArchive)), readWholeFile(source.native(f.name)))
            << std::string(inArchive.begin(), inArchive.end());
    }

    SendMessageW(item(IDC_LEVEL), CB_SETCURSEL, 9, 0);
    seamLog.boxAnswers.push_back(IDYES);
    click(IDC_RECOMPRESS);
    ASSERT_TRUE(pumpUntil([] { return app.uiState == UI_ARCHIVE_OPEN; }));
    ASSERT_NE(app.currentArchive, nullptr);
    EXPECT_EQ(rowCount(), 3);
    EXPECT_EQ(seamLog.boxes.size(), 2u) << "no error after the recompress";
}

// Files an add leaves out reach the user by name in a box once the task ends; a task that went
// through says nothing new.
TEST_F(TaskProgressTest, AddWithLeftOutFilesShowsTheirNamesAfterwards) {
    namespace fs = std::filesystem;
    startWorker();
    TempDir source;
    std::ofstream(fs::path(source.native(u"kept.txt"))) << "kept";
    // Not in the ANSI code page the test runs with (Windows-1252 under Wine): left out.
    std::ofstream(fs::path(source.file(u"\uD55C\uAE00.txt"))) << "korean";
    seamLog.fileAnswers.push_back(asWide(dir.file(u"made.grf")));
    click(IDC_NEW);
    seamLog.boxes.clear();
    seamLog.folderAnswers.push_back(asWide(source.path()));
    click(IDC_ADD_DIRECTORY);
    ASSERT_TRUE(pumpUntil([] { return app.uiState == UI_ARCHIVE_OPEN; }));
    EXPECT_EQ(rowCount(), 1);
    ASSERT_EQ(seamLog.boxes.size(), 1u);
    EXPECT_NE(seamLog.boxes[0].text.find(L"有 1 个文件被跳过或失败"), std::wstring::npos);
    EXPECT_NE(seamLog.boxes[0].text.find(L"data\\\uD55C\uAE00.txt: not representable in code page"),
              std::wstring::npos)
        << ::testing::PrintToString(seamLog.boxes[0].text);

    // The next task left nothing out: no box.
    seamLog.boxes.clear();
    seamLog.folderAnswers.push_back(asWide(source.path()));
    SendMessageW(item(IDC_KOREAN_NAMES), BM_SETCHECK, BST_CHECKED, 0);
    click(IDC_ADD_DIRECTORY);
    ASSERT_TRUE(pumpUntil([] { return app.uiState == UI_ARCHIVE_OPEN; }));
    EXPECT_EQ(rowCount(), 2);
    EXPECT_TRUE(seamLog.boxes.empty());
}

}  // namespace
