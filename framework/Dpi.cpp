#include "framework/Dpi.h"

namespace fw {

namespace {

template <typename T>
T User32Proc(const char* AName) noexcept
{
    return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), AName)));
}

} // namespace

UINT WindowDpi(HWND AWnd) noexcept
{
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = User32Proc<TGetDpiForWindow>("GetDpiForWindow");
    if (getDpiForWindow && AWnd) {
        if (UINT dpi = getDpiForWindow(AWnd)) return dpi;
    }
    HDC dc = GetDC(nullptr);
    int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 0;
    if (dc) ReleaseDC(nullptr, dc);
    return dpi > 0 ? static_cast<UINT>(dpi) : KDesignDpi;
}

NONCLIENTMETRICSW NonClientMetricsForDpi(UINT ADpi) noexcept
{
    using TSystemParametersInfoForDpi = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto forDpi = User32Proc<TSystemParametersInfoForDpi>("SystemParametersInfoForDpi");
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    if (!forDpi || !forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, ADpi)) {
        SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    }
    return metrics;
}

} // namespace fw
