#pragma once
// The watcher's side of tw_trayrec.dll (TrayRecord.h): the desktop-wide hook
// that brings the DLL into programs as they start, and the window its records
// arrive at. Header-only, for the benchmark tools.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>

#include "framework/Handles.h"
#include "tools/common/TrayRecord.h"

namespace tools {

class TTrayRecorder {
public:
    // Called on this thread, as each record arrives, while it pumps messages.
    std::function<void(const TTrayRecord&)> OnRecord;

    // Puts the hook in place and makes the window; on failure, says why.
    bool Start(std::wstring& AError)
    {
        wchar_t path[MAX_PATH + 1] = {};
        DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
        std::wstring dll(path, n);
        dll = dll.substr(0, dll.find_last_of(L'\\') + 1) + KRecorderDll;
        FModule.Reset(LoadLibraryExW(dll.c_str(), nullptr, 0));
        auto* hook = FModule ? reinterpret_cast<HOOKPROC>(
                                   reinterpret_cast<void*>(GetProcAddress(FModule.Get(), KRecorderHookProc)))
                             : nullptr;
        if (!hook) return Failed(AError, L"load " + dll);
        FHook.Reset(SetWindowsHookExW(WH_CBT, hook, FModule.Get(), 0));
        if (!FHook) return Failed(AError, L"SetWindowsHookExW");
        HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSW wc{};
        wc.lpfnWndProc = WndProc;
        wc.hInstance = instance;
        wc.lpszClassName = L"TwTrayRecorder";
        RegisterClassW(&wc);
        FWindow.Reset(
            CreateWindowExW(0, wc.lpszClassName, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, instance, this));
        if (!FWindow) return Failed(AError, L"CreateWindowExW");
        return true;
    }

    // The value of KRecorderWindowVariable for a program to be recorded.
    std::wstring WindowText() const
    {
        wchar_t text[32];
        swprintf(text, 32, L"%llX", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(FWindow.Get())));
        return text;
    }

private:
    static bool Failed(std::wstring& AError, const std::wstring& AWhat)
    {
        AError = AWhat + L" failed, error " + std::to_wstring(GetLastError());
        return false;
    }

    static LRESULT CALLBACK WndProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam)
    {
        if (AMsg == WM_NCCREATE)
            SetWindowLongPtrW(AWnd, GWLP_USERDATA,
                              reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTW*>(ALParam)->lpCreateParams));
        auto* self = reinterpret_cast<TTrayRecorder*>(GetWindowLongPtrW(AWnd, GWLP_USERDATA));
        if (AMsg != WM_COPYDATA || !self) return DefWindowProcW(AWnd, AMsg, AWParam, ALParam);
        const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(ALParam);
        if (copy->dwData != KTrayRecordTag || copy->cbData != sizeof(TTrayRecord)) return FALSE;
        if (self->OnRecord) self->OnRecord(*static_cast<const TTrayRecord*>(copy->lpData));
        return TRUE;
    }

    fw::TModuleHandle FModule;
    fw::THookHandle FHook;
    fw::TWindowHandle FWindow;
};

} // namespace tools
