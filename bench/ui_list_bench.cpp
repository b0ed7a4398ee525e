// Filtering and sorting the entry list of a large archive in the real dialog, against the same
// work done on plain vectors without the window. Usage: ui_list_bench [entries] [repetitions]
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archive/model/archive.h"
#include "archive/format/name_hash.h"
#include "bench/bench_support.h"
#include "ui/app.h"
#include "ui/main_dialog.h"
#include "ui/resource.h"
#include "ui/wide.h"

namespace {

void settle(HWND list) {
    UpdateWindow(list);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
}

double timeMs(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t count = argc > 1 ? uint32_t(std::strtoul(argv[1], nullptr, 10)) : 400000;
    const int repetitions = argc > 2 ? std::atoi(argv[2]) : 7;
    const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&classes);
    app.instance = GetModuleHandleW(nullptr);
    app.mainWindow = CreateDialogParamW(app.instance, MAKEINTRESOURCEW(IDD_MAIN), nullptr, mainDialogProc, 0);
    ShowWindow(app.mainWindow, SW_SHOW);
    const HWND list = GetDlgItem(app.mainWindow, IDC_ENTRY_LIST);
    const HWND filterBox = GetDlgItem(app.mainWindow, IDC_FILTER);

    app.currentArchive = std::make_unique<GrfArchive>();
    GrfArchive* const archive = app.currentArchive.get();
    Generator random(11);
    for (uint32_t i = 0; i < count; ++i) {
        EntryRecord record;
        record.name = makeEntryName(i, random);
        record.originalSize = random.next() % 500000;
        record.compressedSize = record.originalSize / 3;
        record.offset = 46 + uint64_t(i) * 1000;
        archive->adoptEntry(std::make_unique<GrfEntry>(archive, record, ENTRY_STORED));
    }
    setUiState(UI_ARCHIVE_OPEN);
    std::printf("%u entries, %d repetitions, median ms\n", count, repetitions);

    const struct { const char* what; const wchar_t* text; } filters[] = {
        {"empty filter (every row)", L""}, {"\"interface\" (about 30%)", L"interface"}, {"\"_39999\" (a few)", L"_39999"}};
    for (const auto& f : filters) {
        SetWindowTextW(filterBox, f.text);
        std::vector<double> window, plain;
        size_t rows = 0;
        for (int r = 0; r < repetitions; ++r) {
            window.push_back(timeMs([&] { applyFilter(); settle(list); }));
            rows = app.visibleEntries.size();
            // Baseline: the same substring test over the same names, into a plain vector.
            const std::u16string_view wanted(reinterpret_cast<const char16_t*>(f.text));
            plain.push_back(timeMs([&] {
                std::vector<uint32_t> found;
                for (uint32_t i = 0; i < count; ++i) {
                    if (archive->storedEntries()[i]->nameAnsi().find(wanted) != std::u16string::npos) found.push_back(i);
                }
            }));
        }
        std::printf("filter %-28s %8.1f ms (%zu rows)   plain loop %7.1f ms   ratio %.2f\n", f.what, median(window),
                    rows, median(plain), median(window) / median(plain));
    }

    SetWindowTextW(filterBox, L"");
    const char* const columns[] = {"name", "compressed size", "original size", "position"};
    for (int column = 0; column < 4; ++column) {
        std::vector<double> window, plain;
        for (int r = 0; r < repetitions; ++r) {
            applyFilter();  // list order again, so every repetition sorts the same input
            settle(list);
            window.push_back(timeMs([&] { sortByColumn(column); settle(list); }));
            std::vector<uint32_t> rows(count);
            for (uint32_t i = 0; i < count; ++i) rows[i] = i;
            // Baseline: std::sort of the indexes by the same key, no window and no lock.
            plain.push_back(timeMs([&] {
                std::sort(rows.begin(), rows.end(), [&](uint32_t a, uint32_t b) {
                    const GrfEntry& x = *archive->storedEntries()[a];
                    const GrfEntry& y = *archive->storedEntries()[b];
                    switch (column) {
                    case 0: return _stricmp(x.name().c_str(), y.name().c_str()) < 0;
                    case 1: return x.compressedSize() < y.compressedSize();
                    case 2: return x.originalSize() < y.originalSize();
                    default: return x.offset() < y.offset();
                    }
                });
            }));
        }
        std::printf("sort by %-25s %8.1f ms                plain std::sort %7.1f ms   ratio %.2f\n", columns[column],
                    median(window), median(plain), median(window) / median(plain));
    }

    DestroyWindow(app.mainWindow);
    endCurrentArchive();
    return 0;
}
