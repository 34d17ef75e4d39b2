#include "framework/Window.h"

#include <algorithm>
#include <utility>

#include "framework/Application.h"
#include "framework/Exceptions.h"

namespace fw {

TWindow::~TWindow()
{
    if (!FHandle) return;
    // Detach first (GWLP_USERDATA to null), so WM_NCDESTROY and the other
    // messages of DestroyWindow cannot reach a half-destroyed object.
    HWND wnd = std::exchange(FHandle, nullptr);
    SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
    DestroyWindow(wnd);
}

void TWindow::CreateHandle(const wchar_t* AClassName, DWORD AStyle, DWORD AExStyle, HWND AOwner,
                           const wchar_t* ACaption)
{
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    if (!GetClassInfoExW(instance, AClassName, &wc)) {
        wc = WNDCLASSEXW{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = StaticWndProc;
        wc.hInstance = instance;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = AClassName;
        if (!RegisterClassExW(&wc)) RaiseLastOSError();
    }
    if (!CreateWindowExW(AExStyle, AClassName, ACaption, AStyle, 0, 0, 0, 0, AOwner, nullptr, instance, this))
        RaiseLastOSError();
}

LRESULT CALLBACK TWindow::StaticWndProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam)
{
    auto* self = reinterpret_cast<TWindow*>(GetWindowLongPtrW(AWnd, GWLP_USERDATA));
    if (AMsg == WM_NCCREATE) {
        self = static_cast<TWindow*>(reinterpret_cast<CREATESTRUCTW*>(ALParam)->lpCreateParams);
        self->FHandle = AWnd;
        SetWindowLongPtrW(AWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    LRESULT result = 0;
    bool handled = false;
    if (self) {
        try {
            handled = self->WndProc(AMsg, AWParam, ALParam, result);
        } catch (...) {
            // Exceptions must not unwind through the system's frames.
            if (Application) Application->HandleException(std::current_exception());
            handled = true;
            result = 0;
        }
        if (AMsg == WM_NCDESTROY) {
            SetWindowLongPtrW(AWnd, GWLP_USERDATA, 0);
            self->FHandle = nullptr;
        }
    }
    // Restart Manager (an installer or an update that replaces the program's
    // files) closes a program by WM_ENDSESSION with ENDSESSION_CLOSEAPP to each
    // of its top-level windows, after WM_QUERYENDSESSION: the program ends as by
    // its Exit command. A log-off or shutdown (no ENDSESSION_CLOSEAPP) does not.
    if (AMsg == WM_ENDSESSION && AWParam && (static_cast<DWORD>(ALParam) & ENDSESSION_CLOSEAPP) && Application)
        Application->CloseMainForm();
    if (handled) return result;
    // Our hidden windows are no user's to close: DefWindowProcW would answer
    // WM_CLOSE with DestroyWindow, and a "close every window" tool would
    // destroy the tray icon's or the main form's window under us.
    if (AMsg == WM_CLOSE) return 0;
    return DefWindowProcW(AWnd, AMsg, AWParam, ALParam);
}

void THostWindow::RemovePart(TWindowPart* APart) noexcept
{
    std::erase(FParts, APart);
}

bool THostWindow::WndProc(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult)
{
    for (TWindowPart* part : FParts)
        if (part->PartMessage(AMsg, AWParam, ALParam, AResult)) return true;
    return HostMessage(AMsg, AWParam, ALParam, AResult);
}

} // namespace fw
