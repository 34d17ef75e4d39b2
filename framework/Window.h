#pragma once
// A window owned by a C++ object: the static procedure binds `this` at
// WM_NCCREATE and forwards every message to the owner's handler, inside the
// application's exception guard.
#include <windows.h>

#include <functional>

#include "framework/Handles.h"

namespace fw {

using TMessageHandler = std::function<bool(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult)>;

class TMessageWindow {
public:
    // A window of the given class (registered on first use), hidden unless
    // AStyle says otherwise. AOwner is the parent of a WS_CHILD window, whose
    // control id is AId.
    TMessageWindow(const wchar_t* AClassName, TMessageHandler AHandler, DWORD AStyle = WS_POPUP,
                   DWORD AExStyle = 0, HWND AOwner = nullptr, const wchar_t* ACaption = L"", UINT AId = 0);
    ~TMessageWindow() = default;
    TMessageWindow(const TMessageWindow&) = delete;
    TMessageWindow& operator=(const TMessageWindow&) = delete;

    HWND Handle() const noexcept { return FHandle.Get(); }

private:
    static LRESULT CALLBACK StaticWndProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam);

    TMessageHandler FHandler;
    TWindowHandle FHandle;
};

} // namespace fw
