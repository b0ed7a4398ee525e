#pragma once
#include <windows.h>

// Dots per inch of a window and pixel sizes at it. 96 is 100 % scaling.
constexpr UINT BASE_DPI = 96;

// The DPI the window is shown at: its monitor's on Windows 8.1 and later, the system's before.
UINT windowDpi(HWND window);
// `pixels` at 96 DPI, at `dpi`.
int scaleToDpi(int pixels, UINT dpi);
// GetSystemMetrics(index) as it is at `dpi`.
int systemMetricAtDpi(int index, UINT dpi);
