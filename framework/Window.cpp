#include "framework/Window.h"

#include <stdexcept>

#include "framework/Application.h"
#include "framework/Exceptions.h"

namespace fw {

TMessageWindow::TMessageWindow(const wchar_t* AClassName, TMessageHandler AHandler, DWORD AStyle,
                               DWORD AExStyle, HWND AOwner, const wchar_t* ACaption, UINT AId)
    : FHandler(std::move(AHandler))
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
    auto menu = (AStyle & WS_CHILD) ? reinterpret_cast<HMENU>(static_cast<UINT_PTR>(AId)) : nullptr;
    HWND wnd = CreateWindowExW(AExStyle, AClassName, ACaption, AStyle, 0, 0, 0, 0, AOwner, menu, instance, this);
    if (!wnd) RaiseLastOSError();
    FHandle.Reset(wnd);
}

LRESULT CALLBACK TMessageWindow::StaticWndProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam)
{
    auto* self = reinterpret_cast<TMessageWindow*>(GetWindowLongPtrW(AWnd, GWLP_USERDATA));
    if (AMsg == WM_NCCREATE) {
        self = static_cast<TMessageWindow*>(reinterpret_cast<CREATESTRUCTW*>(ALParam)->lpCreateParams);
        SetWindowLongPtrW(AWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else if (AMsg == WM_NCDESTROY) {
        SetWindowLongPtrW(AWnd, GWLP_USERDATA, 0);
        self = nullptr;
    }
    if (self && self->FHandler) {
        LRESULT result = 0;
        bool handled = false;
        try {
            handled = self->FHandler(AMsg, AWParam, ALParam, result);
        } catch (...) {
            // Exceptions must not unwind through the system's frames.
            if (Application) Application->HandleException(std::current_exception());
            handled = true;
            result = 0;
        }
        if (handled) return result;
    }
    // Our hidden windows are no user's to close: a "close every window" tool
    // must not destroy the tray icon's or the timer's window under us.
    if (AMsg == WM_CLOSE) return 0;
    return DefWindowProcW(AWnd, AMsg, AWParam, ALParam);
}

} // namespace fw
