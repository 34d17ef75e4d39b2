#pragma once
// Version 6 of the common controls (comctl32), bound on demand. It is no
// KnownDLL and nothing at start needs it, so the program does not import
// it: it is loaded by name on first need, so that the manifest's activation
// context picks version 6, and kept for the life of the process, as windows
// of its classes may be.
#include <windows.h>
#include <commctrl.h>

namespace fw {

// Loads version 6 once; null when it cannot be loaded. The system's buttons
// send NM_CUSTOMDRAW only when it is loaded as they are created.
HMODULE LoadCommonControls() noexcept;

// SetWindowSubclass with RemoveWindowSubclass and DefSubclassProc, bound
// from version 6; all three null when any of them cannot be bound.
struct TSubclassing {
    decltype(&SetWindowSubclass) Set = nullptr;
    decltype(&RemoveWindowSubclass) Remove = nullptr;
    decltype(&DefSubclassProc) Default = nullptr;
    explicit operator bool() const noexcept { return Set && Remove && Default; }
};
const TSubclassing& Subclassing() noexcept;

} // namespace fw
