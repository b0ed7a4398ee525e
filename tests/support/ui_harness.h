#pragma once
#include <windows.h>
#include <commctrl.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/app.h"
#include "ui/window_listener.h"
#include "ui/window_messages.h"
#include "worker/task_worker.h"

// What the window asked of the user, and the answers the test prepared for it.
struct SeamLog {
    struct FileAsk {
        bool save = false;
        std::wstring filter;     // pairs separated by '|' for easy comparison
        std::wstring title;      // "(none)" when the request had no title
        DWORD flags = 0;
        std::wstring defaultExtension;
        std::wstring initialFile;
    };
    struct Box {
        std::wstring text;
        std::wstring caption;
        UINT type = 0;
    };
    std::vector<FileAsk> fileAsks;
    std::vector<std::wstring> folderTitles;
    std::vector<Box> boxes;

    std::deque<std::wstring> fileAnswers;    // empty text cancels
    std::deque<std::wstring> folderAnswers;  // empty text cancels
    std::deque<int> boxAnswers;              // IDOK when none is queued
    struct MenuItem {
        UINT id = 0;
        std::wstring text;
        bool enabled = false;
    };
    struct Menu {
        std::vector<MenuItem> items;         // separators left out
    };
    std::vector<Menu> menus;
    std::deque<UINT> menuAnswers;            // 0 (dismissed) when none is queued
    bool taskbarCreationFails = false;
    bool windowInFront = true;               // else some other window is in front
};
extern SeamLog seamLog;

// A taskbar list that records the progress calls made on it.
class FakeTaskbar final : public ITaskbarList3 {
public:
    std::vector<TBPFLAG> states;
    std::vector<std::pair<ULONGLONG, ULONGLONG>> values;
    LONG references = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = --references;
        if (left == 0) {
            delete this;
        }
        return left;
    }
    HRESULT STDMETHODCALLTYPE HrInit() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE AddTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeleteTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ActivateTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveAlt(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE MarkFullscreenWindow(HWND, WINBOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetProgressValue(HWND, ULONGLONG done, ULONGLONG total) override {
        values.emplace_back(done, total);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetProgressState(HWND, TBPFLAG state) override {
        states.push_back(state);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RegisterTab(HWND, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE UnregisterTab(HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetTabOrder(HWND, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetTabActive(HWND, HWND, DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ThumbBarAddButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ThumbBarUpdateButtons(HWND, UINT, LPTHUMBBUTTON) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE ThumbBarSetImageList(HWND, HIMAGELIST) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetOverlayIcon(HWND, HICON, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetThumbnailTooltip(HWND, LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetThumbnailClip(HWND, RECT*) override { return S_OK; }
};

// The main dialog created from the program's own template, with the seam answered by seamLog.
// The worker is constructed but not started: a hand-over leaves its task in taskCode/taskArgs
// for the test to read, unless the test calls startWorker().
class UiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    HWND item(int id) const { return GetDlgItem(dialog, id); }
    void click(int id);
    std::wstring text(HWND window) const;
    std::wstring statusText() const;
    std::wstring title() const { return text(dialog); }
    int rowCount() const;
    std::wstring cell(int row, int column) const;
    int rowImage(int row) const;
    void selectRows(std::initializer_list<int> rows);
    // Rows' first-column texts, top to bottom.
    std::vector<std::wstring> names() const;
    void typeFilter(const std::wstring& filterText);
    void pressEnterInFilter();
    void clickHeader(int column);
    // Processes the window's messages until `done` holds or `timeoutMs` passes; answers `done`.
    bool pumpUntil(const std::function<bool()>& done, DWORD timeoutMs = 10000);
    void pump() { pumpUntil([] { return false; }, 0); }
    // Opens `path` through the Open command, answering the picker with it.
    void openArchive(const std::u16string& path);
    void startWorker();
    // Takes the task the window handed over (the worker was not started); its record goes to
    // `record`, or away.
    uint32_t takeHandedOverTask(std::unique_ptr<TaskArgs>* record = nullptr);
    // Ends the task `code` as the window's listener would: `result` is the failure's code, or
    // for a repack its record, whose failure is `failure`.
    void sendFinished(uint32_t code, LPARAM result, int failure = 0);

    HWND dialog = nullptr;
    std::unique_ptr<WindowListener> listener;
    std::unique_ptr<TaskWorker> worker;
    bool workerStarted = false;
};
