#include "framework/Dpi.h"

#include "framework/Handles.h"
#include "framework/Modules.h"
#include "framework/Services.h"

namespace fw {

UINT WindowDpi(HWND AWnd) noexcept
{
    return Services().WindowDpi(AWnd);
}

UINT SystemWindowDpi(HWND AWnd) noexcept
{
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = GetProc<TGetDpiForWindow>(L"user32.dll", "GetDpiForWindow");
    if (getDpiForWindow && AWnd) {
        if (UINT dpi = getDpiForWindow(AWnd)) return dpi;
    }
    TWindowDC screen(nullptr);
    int dpi = screen.Get() ? GetDeviceCaps(screen.Get(), LOGPIXELSY) : 0;
    return dpi > 0 ? static_cast<UINT>(dpi) : KDesignDpi;
}

NONCLIENTMETRICSW NonClientMetricsForDpi(UINT ADpi) noexcept
{
    using TSystemParametersInfoForDpi = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto forDpi = GetProc<TSystemParametersInfoForDpi>(L"user32.dll", "SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!forDpi || !forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, ADpi)) {
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    }
    return metrics;
}

int SystemMetricForDpi(int AIndex, UINT ADpi) noexcept
{
    using TGetSystemMetricsForDpi = int(WINAPI*)(int, UINT);
    static const auto forDpi = GetProc<TGetSystemMetricsForDpi>(L"user32.dll", "GetSystemMetricsForDpi");
    return forDpi ? forDpi(AIndex, ADpi) : ScaleForDpi(GetSystemMetrics(AIndex), ADpi);
}

SIZE WindowSizeForDpi(SIZE AClient, DWORD AStyle, DWORD AExStyle, UINT ADpi) noexcept
{
    using TAdjustWindowRectExForDpi = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto forDpi = GetProc<TAdjustWindowRectExForDpi>(L"user32.dll", "AdjustWindowRectExForDpi");
    RECT r{0, 0, AClient.cx, AClient.cy};
    if (!forDpi || !forDpi(&r, AStyle, FALSE, AExStyle, ADpi)) AdjustWindowRectEx(&r, AStyle, FALSE, AExStyle);
    return {r.right - r.left, r.bottom - r.top};
}

} // namespace fw
