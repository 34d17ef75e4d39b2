#include "framework/ModalLoop.h"

#include <vector>

#include "framework/Application.h"
#include "framework/Classes.h"

namespace fw {

namespace {

// Enter and Esc count only without Shift, Ctrl or Alt. They are held back
// before IsDialogMessageW sees them, so a click with a modifier still counts.
bool ModifiedEnterOrEsc(const MSG& AMsg) noexcept
{
    switch (AMsg.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_CHAR:
    case WM_SYSCHAR:
        // VK_RETURN and VK_ESCAPE are also the characters the keys type.
        return (AMsg.wParam == VK_RETURN || AMsg.wParam == VK_ESCAPE) && GetShiftState().Any();
    default: return false;
    }
}

void CentreOnMonitor(HWND AWnd)
{
    RECT window;
    GetWindowRect(AWnd, &window);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(MonitorFromWindow(AWnd, MONITOR_DEFAULTTOPRIMARY), &info);
    int w = window.right - window.left;
    int h = window.bottom - window.top;
    SetWindowPos(AWnd, HWND_TOPMOST, (info.rcMonitor.left + info.rcMonitor.right - w) / 2,
                 (info.rcMonitor.top + info.rcMonitor.bottom - h) / 2, 0, 0, SWP_NOSIZE);
}

} // namespace

bool RunModal(TApplication& AApplication, HWND AWnd, const std::function<bool()>& ADone)
{
    // Every other visible window of the program waits; the hidden ones (the
    // tray icon's among them) go on receiving their messages.
    std::vector<HWND> disabled;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND AWindow, LPARAM AParam) -> BOOL {
            auto* list = reinterpret_cast<std::vector<HWND>*>(AParam);
            if (IsWindowVisible(AWindow) && IsWindowEnabled(AWindow)) list->push_back(AWindow);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&disabled));
    std::erase(disabled, AWnd);
    for (HWND wnd : disabled) EnableWindow(wnd, FALSE);
    AApplication.BeginModal();

    CentreOnMonitor(AWnd);
    ShowWindow(AWnd, SW_SHOW);
    SetForegroundWindow(AWnd);
    if (HWND first = GetNextDlgTabItem(AWnd, nullptr, FALSE)) SetFocus(first);

    auto dialogKeys = [AWnd](MSG& AMsg) { return ModifiedEnterOrEsc(AMsg) || IsDialogMessageW(AWnd, &AMsg); };
    bool running = true;
    while (running && !ADone()) running = AApplication.PumpStep(dialogKeys);

    for (HWND wnd : disabled)
        if (IsWindow(wnd)) EnableWindow(wnd, TRUE);
    ShowWindow(AWnd, SW_HIDE);
    AApplication.EndModal();
    return running;
}

} // namespace fw
