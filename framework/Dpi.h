#pragma once
// DPI queries. The per-DPI calls (GetDpiForWindow, GetSystemMetricsForDpi,
// SystemParametersInfoForDpi) came with Windows 10 version 1607: they are
// bound at run time, so the program still starts on earlier Windows 10,
// where the answers fall back to the system DPI's.
#include <windows.h>

namespace fw {

// A window's pixels per inch, as the services answer it (fw::Services().WindowDpi).
UINT WindowDpi(HWND AWnd) noexcept;
// GetDpiForWindow; else the screen's LOGPIXELSY, else KDesignDpi.
UINT SystemWindowDpi(HWND AWnd) noexcept;
// SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS); else the system DPI's metrics.
NONCLIENTMETRICSW NonClientMetricsForDpi(UINT ADpi) noexcept;
// GetSystemMetricsForDpi; else the system's metric, scaled from KDesignDpi to ADpi.
int SystemMetricForDpi(int AIndex, UINT ADpi) noexcept;
// The outer size of a window without a menu whose client area is AClient, with
// its frame at ADpi: AdjustWindowRectExForDpi; else the system DPI's frame.
SIZE WindowSizeForDpi(SIZE AClient, DWORD AStyle, DWORD AExStyle, UINT ADpi) noexcept;
// The DPI that sizes in the code are given at; a display at another DPI scales them.
constexpr UINT KDesignDpi = USER_DEFAULT_SCREEN_DPI;

inline int ScaleForDpi(int AValue, UINT ADpi) noexcept
{
    return MulDiv(AValue, static_cast<int>(ADpi), static_cast<int>(KDesignDpi));
}

} // namespace fw
