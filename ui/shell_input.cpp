// Archives and files that come from outside the window: the program's argument and drops.
#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <vector>

#include "archive/ops/merge.h"
#include "archive/model/archive.h"
#include "archive/format/entry_name.h"
#include "ui/app.h"
#include "ui/controls.h"
#include "ui/main_dialog.h"
#include "ui/ui_seam.h"
#include "ui/wide.h"
#include "worker/task_worker.h"

namespace {

// The question names this many items at most; the rest are counted.
constexpr size_t MAX_NAMED_ITEMS = 15;

bool isArchivePath(const std::u16string& path) {
    return hasExtension(path, u"grf") || hasExtension(path, u"gpf");
}

std::u16string fileNameOf(const std::u16string& path) {
    const size_t slash = path.find_last_of(u"\\/");
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

std::u16string fullPath(const wchar_t* path) {
    const DWORD needed = GetFullPathNameW(path, 0, nullptr, nullptr);
    if (needed == 0) {
        return fromWide(path);
    }
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path, needed, full.data(), nullptr);
    full.resize(length < needed ? length : 0);
    return full.empty() ? fromWide(path) : fromWide(full.c_str());
}

struct DropKinds {
    std::vector<std::u16string> folders;
    std::vector<std::u16string> archives;
    std::vector<std::u16string> files;
    std::vector<std::wstring> missing;   // neither file nor folder (gone since the drop)
};

DropKinds sortDrop(const std::vector<std::u16string>& paths) {
    DropKinds kinds;
    for (const std::u16string& path : paths) {
        const DWORD attributes = GetFileAttributesW(asWide(path));
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            kinds.missing.push_back(asWide(path));
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            kinds.folders.push_back(path);
        } else if (isArchivePath(path)) {
            kinds.archives.push_back(path);
        } else {
            kinds.files.push_back(path);
        }
    }
    return kinds;
}

std::wstring dropQuestion(const DropKinds& kinds) {
    std::wstring text = L"是否将以下内容添加到当前GRF文件？\n";
    size_t named = 0;
    size_t total = 0;
    const auto list = [&](const std::vector<std::u16string>& paths, const wchar_t* label) {
        for (const std::u16string& path : paths) {
            ++total;
            if (named < MAX_NAMED_ITEMS) {
                text += L"\n";
                text += label;
                text += asWide(path);
                ++named;
            }
        }
    };
    list(kinds.folders, L"目录：");
    list(kinds.files, L"文件：");
    list(kinds.archives, L"合并Grf：");
    if (total > named) {
        text += L"\n……等 " + std::to_wstring(total) + L" 项";
    }
    return text;
}

// Each file becomes data\ + its name, as a pending entry; the ones that cannot are named with
// their reason.
void addDroppedFiles(const std::vector<std::u16string>& files, std::wstring& leftOut) {
    GrfArchive& archive = *app.currentArchive;
    for (const std::u16string& path : files) {
        WIN32_FILE_ATTRIBUTE_DATA data{};
        if (!GetFileAttributesExW(asWide(path), GetFileExInfoStandard, &data)) {
            leftOut += L"\n" + std::wstring(asWide(path)) + L"：无法读取文件信息";
            continue;
        }
        // The table holds 32-bit sizes.
        if (data.nFileSizeHigh != 0) {
            leftOut += L"\n" + std::wstring(asWide(path)) + L"：文件超过4GB";
            continue;
        }
        const auto name = encodeEntryName(u"data\\" + fileNameOf(path), useKoreanNames());
        if (!name) {
            leftOut += L"\n" + std::wstring(asWide(path)) + L"：文件名无法转换或过长";
            continue;
        }
        archive.addFile(*name, path, data.nFileSizeLow);
    }
}

}  // namespace

void openFromCommandLine(const wchar_t* commandLine) {
    int count = 0;
    wchar_t** const arguments = CommandLineToArgvW(commandLine, &count);
    if (arguments == nullptr) {
        return;
    }
    if (count >= 2 && arguments[1][0] != L'\0' && app.currentArchive == nullptr && app.uiState != UI_BUSY) {
        openArchiveAt(fullPath(arguments[1]));
    }
    LocalFree(arguments);
}

void onDropFiles(HDROP drop) {
    std::vector<std::u16string> paths;
    const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
    for (UINT i = 0; i < count; ++i) {
        const UINT length = DragQueryFileW(drop, i, nullptr, 0);
        std::wstring path(length + 1, L'\0');
        path.resize(DragQueryFileW(drop, i, path.data(), length + 1));
        paths.push_back(fromWide(path.c_str()));
    }
    DragFinish(drop);
    handleDroppedPaths(paths);
}

void handleDroppedPaths(const std::vector<std::u16string>& paths) {
    // A task owns the archive until it ends, and a drop in between would change it underneath.
    if (app.uiState == UI_BUSY || paths.empty()) {
        return;
    }
    if (app.currentArchive == nullptr) {
        for (const std::u16string& path : paths) {
            const DWORD attributes = GetFileAttributesW(asWide(path));
            if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                isArchivePath(path)) {
                openArchiveAt(path);
                return;
            }
        }
        return;
    }
    const DropKinds kinds = sortDrop(paths);
    std::wstring leftOut;
    for (const std::wstring& path : kinds.missing) {
        leftOut += L"\n" + path + L"：找不到文件";
    }
    if (!kinds.folders.empty() || !kinds.files.empty() || !kinds.archives.empty()) {
        if (uiSeam.messageBox(app.mainWindow, dropQuestion(kinds).c_str(), L"添加文件", MB_ICONQUESTION | MB_YESNO) !=
            IDYES) {
            return;
        }
        addDroppedFiles(kinds.files, leftOut);
        if (!kinds.files.empty()) {
            applyFilter();
        }
        for (const std::u16string& folder : kinds.folders) {
            app.pendingAdds.push_back({TASK_ADD_DIRECTORY, folder});
        }
        for (const std::u16string& archive : kinds.archives) {
            app.pendingAdds.push_back({TASK_ADD_ARCHIVE, archive});
        }
    }
    if (!leftOut.empty()) {
        uiSeam.messageBox(app.mainWindow, (L"以下文件未能添加：" + leftOut).c_str(), L"添加文件", MB_ICONWARNING);
    }
    continuePendingAdds();
}

void continuePendingAdds() {
    if (app.uiState != UI_ARCHIVE_OPEN || app.currentArchive == nullptr || app.pendingAdds.empty()) {
        // Without an archive to add to, the rest of the drop has nowhere to go.
        if (app.currentArchive == nullptr) {
            app.pendingAdds.clear();
        }
        return;
    }
    const PendingAdd next = app.pendingAdds.front();
    app.pendingAdds.pop_front();
    if (next.task == TASK_ADD_DIRECTORY) {
        auto record = std::make_unique<AddDirectoryArgs>();
        record->useKoreanNames = useKoreanNames() ? 1 : 0;
        record->archive = app.currentArchive.get();
        record->directory = next.path;
        handOverTask(TASK_ADD_DIRECTORY, std::move(record));
    } else {
        auto record = std::make_unique<AddArchiveArgs>();
        record->archive = app.currentArchive.get();
        record->otherPath = next.path;
        handOverTask(TASK_ADD_ARCHIVE, std::move(record));
    }
}
