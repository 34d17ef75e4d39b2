#pragma once
// DPI queries that exist only on newer systems are looked up at run time so
// the executable still loads where they are missing.
#include <windows.h>

namespace fw {

UINT WindowDpi(HWND AWnd) noexcept;
NONCLIENTMETRICSW NonClientMetricsForDpi(UINT ADpi) noexcept;
// AValue, given for the default 96 DPI, at ADpi.
inline int ScaleForDpi(int AValue, UINT ADpi) noexcept
{
    return MulDiv(AValue, static_cast<int>(ADpi), USER_DEFAULT_SCREEN_DPI);
}

} // namespace fw
