#pragma once
// DPI queries that exist only on newer systems are looked up at run time so
// the executable still loads where they are missing.
#include <windows.h>

namespace fw {

UINT WindowDpi(HWND AWnd) noexcept;
NONCLIENTMETRICSW NonClientMetricsForDpi(UINT ADpi) noexcept;
inline int ScaleForDpi(int AValue, UINT ADpi) noexcept { return MulDiv(AValue, static_cast<int>(ADpi), 96); }

} // namespace fw
