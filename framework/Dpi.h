#pragma once
// DPI queries that exist only on newer systems are looked up at run time so
// the executable still loads where they are missing.
#include <windows.h>

namespace fw {

UINT WindowDpi(HWND AWnd) noexcept;
NONCLIENTMETRICSW NonClientMetricsForDpi(UINT ADpi) noexcept;
// The DPI that sizes in the code are given at; a display at another DPI scales them.
constexpr UINT KDesignDpi = USER_DEFAULT_SCREEN_DPI;

inline int ScaleForDpi(int AValue, UINT ADpi) noexcept
{
    return MulDiv(AValue, static_cast<int>(ADpi), static_cast<int>(KDesignDpi));
}

} // namespace fw
