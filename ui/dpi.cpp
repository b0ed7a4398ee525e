// The per-monitor DPI functions arrived with Windows 8.1 (shcore's GetDpiForMonitor) and
// Windows 10 1607 (GetDpiForWindow, GetSystemMetricsForDpi). The program also runs on Windows 7
// and under Wine, so each is looked up at run time and the older way stands in where it is missing.
#include "ui/dpi.h"

namespace {

using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
// MONITOR_DPI_TYPE 0: the effective DPI, the one scaling is meant to follow.
using GetDpiForMonitorFn = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

template <typename Function>
Function lookUp(const wchar_t* module, const char* name) {
    HMODULE loaded = GetModuleHandleW(module);
    if (loaded == nullptr) {
        // shcore is not loaded by anything else of ours; it stays loaded for the process.
        loaded = LoadLibraryW(module);
    }
    return loaded != nullptr ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(loaded, name)))
                             : nullptr;
}

UINT systemDpi() {
    HDC screen = GetDC(nullptr);
    const int dpi = screen != nullptr ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen != nullptr) {
        ReleaseDC(nullptr, screen);
    }
    return dpi > 0 ? static_cast<UINT>(dpi) : BASE_DPI;
}

}  // namespace

UINT windowDpi(HWND window) {
    static const auto forWindow = lookUp<GetDpiForWindowFn>(L"user32.dll", "GetDpiForWindow");
    if (forWindow != nullptr && window != nullptr) {
        if (const UINT dpi = forWindow(window); dpi != 0) {
            return dpi;
        }
    }
    static const auto forMonitor = lookUp<GetDpiForMonitorFn>(L"shcore.dll", "GetDpiForMonitor");
    if (forMonitor != nullptr && window != nullptr) {
        UINT x = 0;
        UINT y = 0;
        if (SUCCEEDED(forMonitor(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), 0, &x, &y)) && x != 0) {
            return x;
        }
    }
    return systemDpi();
}

int scaleToDpi(int pixels, UINT dpi) {
    return MulDiv(pixels, static_cast<int>(dpi), BASE_DPI);
}

int systemMetricAtDpi(int index, UINT dpi) {
    static const auto forDpi = lookUp<GetSystemMetricsForDpiFn>(L"user32.dll", "GetSystemMetricsForDpi");
    if (forDpi != nullptr) {
        return forDpi(index, dpi);
    }
    // Without it the metrics are the system DPI's.
    return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi), static_cast<int>(systemDpi()));
}
