#include <windows.h>
#include <commctrl.h>

#include "archive/model/archive.h"
#include "archive/base/failure_reason.h"
#include "archive/base/result_codes.h"
#include "platform/utf8.h"
#include "ui/app.h"
#include "ui/controls.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "ui/ui_seam.h"
#include "ui/wide.h"
#include "worker/task_args.h"
#include "worker/task_codes.h"
#include "worker/task_listener.h"

namespace {

// The bar takes signed 32-bit positions.
constexpr uint64_t LARGEST_BAR_VALUE = 0x7FFFFFFF;
constexpr UINT MARQUEE_INTERVAL_MS = 25;

bool isAddingTask(uint32_t code) {
    return code == TASK_ADD_DIRECTORY || code == TASK_ADD_ARCHIVE;
}

void setMarquee(bool on) {
    const HWND bar = control(IDC_PROGRESS);
    if (on) {
        changeStyle(bar, PBS_MARQUEE, true);
        SendMessageW(bar, PBM_SETMARQUEE, TRUE, MARQUEE_INTERVAL_MS);
    } else {
        changeStyle(bar, PBS_MARQUEE, false);
        SendMessageW(bar, PBM_SETMARQUEE, FALSE, 0);
    }
}

// Items named in the box after a task; the count says how many more there were.
constexpr size_t SHOWN_ITEMS = 20;

// "data\x.txt: No space left on device", as one line of the box.
std::wstring itemLine(const FailureReason& reason) {
    std::u16string line = reason.subject;
    const std::string cause = causeText(reason);
    if (!cause.empty()) line += u": " + platform::utf8ToUtf16(cause);
    return std::wstring(line.begin(), line.end());
}

// What failed: the reason's own cause when it has one ("No space left on device" says more than
// the code's text), else the text of its result code.
std::wstring failureText(const FailureReason& reason) {
    // A code with nothing more to it reads best as the code's own text.
    const bool onlyTheCode = reason.subject.empty() && reason.systemError == 0 &&
                             (reason.cause == Cause::NONE || reason.cause == Cause::DAMAGED_STREAM);
    if (!onlyTheCode && (reason.cause != Cause::NONE || reason.systemError != 0)) return itemLine(reason);
    const std::wstring text = asWide(resultText(reason.code));
    if (reason.subject.empty()) return text;
    return std::wstring(reason.subject.begin(), reason.subject.end()) + L": " + text;
}

// The items the task left out or failed so far, as the end of a box; they are then shown.
std::wstring takeLeftOut() {
    if (app.leftOutCount == 0) return L"";
    std::wstring text = L"有 " + std::to_wstring(app.leftOutCount) + L" 个文件被跳过或失败：\n\n" + app.leftOutText;
    if (app.leftOutCount > SHOWN_ITEMS) {
        text += L"……（另有 " + std::to_wstring(app.leftOutCount - SHOWN_ITEMS) + L" 个）\n";
    }
    app.leftOutCount = 0;
    app.leftOutText.clear();
    return text;
}

// A failed task in one box: its cause, and the items it named on the way.
void showError(const FailureReason& reason) {
    std::wstring text = failureText(reason);
    if (const std::wstring items = takeLeftOut(); !items.empty()) text += L"\n\n" + items;
    uiSeam.messageBox(app.mainWindow, text.c_str(), L"错误", MB_ICONERROR);
}

// After a task that left items out or failed some: how many, and the first with their causes.
// A message box's text can be copied with Ctrl+C.
void showLeftOut() {
    const std::wstring text = takeLeftOut();
    if (text.empty()) return;
    uiSeam.messageBox(app.mainWindow, text.c_str(), L"错误", MB_ICONWARNING);
}

// A failed save: the archive closes as the user asked, and its file keeps what it held before.
void showSaveFailed(const FailureReason& reason) {
    std::wstring text = L"保存失败，文件未被修改。\n" + failureText(reason);
    if (const std::wstring items = takeLeftOut(); !items.empty()) text += L"\n\n" + items;
    uiSeam.messageBox(app.mainWindow, text.c_str(), L"错误", MB_ICONERROR);
}

void endWithoutArchive() {
    app.pendingAdds.clear();
    closePreview();
    endCurrentArchive();
    app.visibleEntries.clear();
    setListItemCount(0);
    refreshTitle();
    setControlText(IDC_STATUS, L"就绪");
    setUiState(UI_NO_ARCHIVE);
}

// Answers true when the window goes on with an archive.
bool adoptRecompressed(const TaskCompletion& completion) {
    auto* const record = dynamic_cast<RecompressArgs*>(completion.args.get());
    if (record == nullptr) {
        return false;
    }
    app.currentArchive = std::move(record->resultArchive);
    if (!completion.outcome) {
        showError(completion.outcome.reason());
    }
    if (record->reopenFailure.failed()) {
        // The window lost its hold on the file: rewritten and in place, or left as it was.
        const std::wstring text = (completion.outcome ? L"GRF文件已重新压缩，但无法重新打开。\n"
                                                      : L"无法重新打开GRF文件。\n") +
                                  failureText(record->reopenFailure);
        uiSeam.messageBox(app.mainWindow, text.c_str(), L"重新压缩", MB_ICONWARNING);
        return false;
    }
    if (app.currentArchive == nullptr) {
        return false;
    }
    applyFilter();
    return true;
}

}  // namespace

void setTaskbarState(TBPFLAG state) {
    if (app.taskbarList) {
        app.taskbarList->SetProgressState(app.mainWindow, state);
    }
}

void onTaskbarButtonCreated() {
    // Each announcement (again after the shell restarts) brings a fresh object; the old one goes.
    app.taskbarList.reset();
    ITaskbarList3** const slot = app.taskbarList.put();
    if (FAILED(uiSeam.createTaskbarList(slot))) {
        *slot = nullptr;
    }
}

void onTaskItemFailed(const FailureReason* reason) {
    if (reason == nullptr) return;
    if (app.leftOutCount++ < SHOWN_ITEMS) app.leftOutText += itemLine(*reason) + L"\n";
}

void onTaskStarted(uint32_t code) {
    app.leftOutCount = 0;
    app.leftOutText.clear();
    setUiState(UI_BUSY);
    if (isAddingTask(code)) {
        setMarquee(true);
    }
}

void onTaskStatus(const wchar_t* text) {
    setControlText(IDC_STATUS, text);
}

void onTaskTotal(uint64_t total) {
    app.shownTotal = total;
    const uint64_t top = total <= LARGEST_BAR_VALUE ? total : LARGEST_BAR_VALUE;
    PostMessageW(control(IDC_PROGRESS), PBM_SETRANGE32, 0, static_cast<LPARAM>(top));
    setTaskbarState(TBPF_INDETERMINATE);
}

void onTaskProgress(uint64_t done) {
    uint32_t position = static_cast<uint32_t>(done);
    if (app.shownTotal > LARGEST_BAR_VALUE) {
        position = static_cast<uint32_t>(static_cast<double>(done) * 2147483647.0 / static_cast<double>(app.shownTotal));
    }
    PostMessageW(control(IDC_PROGRESS), PBM_SETPOS, position, 0);
    if (app.taskbarList) {
        app.taskbarList->SetProgressValue(app.mainWindow, done, app.shownTotal);
    }
}

void showFailure(const std::wstring& what, const FailureReason& reason) {
    const std::wstring text = what + L"\n" + failureText(reason);
    uiSeam.messageBox(app.mainWindow, text.c_str(), L"错误", MB_ICONERROR);
}

void onTaskFinished(std::unique_ptr<TaskCompletion> completion) {
    if (completion == nullptr) return;
    const uint32_t code = completion->code;
    const Outcome& outcome = completion->outcome;
    if (app.currentArchive != nullptr && !outcome) app.currentArchive->lastError = outcome.reason();
    switch (code) {
    case TASK_EXTRACT_ONE:
    case TASK_EXTRACT_SELECTED:
    case TASK_EXTRACT_ALL:
        refreshStatusLine();
        if (!outcome) showError(outcome.reason());
        break;
    case TASK_ADD_DIRECTORY:
    case TASK_ADD_ARCHIVE:
        applyFilter();
        setMarquee(false);
        // The other archive did not open: nothing of it was added.
        if (!outcome) showError(outcome.reason());
        break;
    case TASK_SAVE:
        if (!outcome) showSaveFailed(outcome.reason());
        showLeftOut();
        // Saved or not, the archive closes: that is what the user asked for with Yes.
        endWithoutArchive();
        return;
    case TASK_RECOMPRESS:
        if (!adoptRecompressed(*completion)) {
            // Nothing came back to continue with (the task broke off): the window starts over.
            showLeftOut();
            endWithoutArchive();
            setTaskbarState(TBPF_NOPROGRESS);
            return;
        }
        break;
    default: break;
    }
    showLeftOut();
    setTaskbarState(uiSeam.foregroundWindow() == app.mainWindow ? TBPF_NOPROGRESS : TBPF_PAUSED);
    setUiState(UI_ARCHIVE_OPEN);
    continuePendingAdds();
}

void onActivate() {
    if (app.uiState != UI_BUSY) {
        setTaskbarState(TBPF_NOPROGRESS);
    }
}
