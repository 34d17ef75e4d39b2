#pragma once
// A tool's side of the inspect protocol (see Protocol.h): loads the hook DLL
// from the tool's own folder, hooks the thread that owns a window for one
// request and collects the hook's answer.
#include <windows.h>

#include <string>

#include "framework/Handles.h"
#include "tools/common/Owners.h"
#include "tools/common/Protocol.h"

namespace tools {

// The step that failed; each tool words its failures its own way.
enum class TInspectFault { None, LoadHook, NoHookProc, ReplyWindow, SetHook, NotTaken, NoAnswer, HookError };

struct TInspectAnswer {
    TInspectFault Fault = TInspectFault::None;
    DWORD Error = 0;   // GetLastError of the call that failed
    std::wstring Text; // the answer; for HookError the hook's message
};

class THookClient {
public:
    THookClient() = default;
    // The reply window holds a pointer to this client.
    THookClient(const THookClient&) = delete;
    THookClient& operator=(const THookClient&) = delete;

    // AReplyClass names the class of the window the answers come to.
    TInspectAnswer Open(const wchar_t* AReplyClass)
    {
        FHook.Reset(LoadLibraryW((ModuleFolder() + KHookDll).c_str()));
        if (!FHook) return {TInspectFault::LoadHook, GetLastError(), {}};
        // Through the generic function pointer type: the export is declared as a FARPROC.
        FProc = reinterpret_cast<HOOKPROC>(reinterpret_cast<void (*)()>(GetProcAddress(FHook.Get(), KHookProc)));
        if (!FProc) return {TInspectFault::NoHookProc, GetLastError(), {}};
        FMessage = RegisterWindowMessageW(KInspectMessage);

        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = ReplyProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = AReplyClass;
        RegisterClassExW(&wc);
        FReply.Reset(CreateWindowExW(0, AReplyClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this));
        if (!FReply) return {TInspectFault::ReplyWindow, GetLastError(), {}};
        return {};
    }

    // Sends one request (lParam ARequest) to ATarget and waits for the answer.
    TInspectAnswer Ask(HWND ATarget, LPARAM ARequest, UINT ATimeoutMs)
    {
        THookHandle hook(
            SetWindowsHookExW(WH_CALLWNDPROC, FProc, FHook.Get(), GetWindowThreadProcessId(ATarget, nullptr)));
        if (!hook) return {TInspectFault::SetHook, GetLastError(), {}};
        FAnswered = false;
        DWORD_PTR result = 0;
        // The answer arrives as a WM_COPYDATA sent to the reply window while this send waits.
        LRESULT sent = SendMessageTimeoutW(ATarget, FMessage, reinterpret_cast<WPARAM>(FReply.Get()), ARequest,
                                           SMTO_NORMAL, ATimeoutMs, &result);
        DWORD error = GetLastError();
        hook.Reset();
        if (!sent) return {TInspectFault::NotTaken, error, {}};
        if (!FAnswered) return {TInspectFault::NoAnswer, 0, {}};
        if (FAnswer.starts_with(KInspectError))
            return {TInspectFault::HookError, 0, FAnswer.substr(std::size(KInspectError) - 1)};
        return {TInspectFault::None, 0, FAnswer};
    }

private:
    static std::wstring ModuleFolder()
    {
        wchar_t path[MAX_PATH] = {};
        DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring folder(path, n);
        return folder.substr(0, folder.find_last_of(L"\\/") + 1);
    }

    static LRESULT CALLBACK ReplyProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam)
    {
        if (AMsg == WM_NCCREATE) {
            auto* create = reinterpret_cast<const CREATESTRUCTW*>(ALParam);
            SetWindowLongPtrW(AWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<THookClient*>(GetWindowLongPtrW(AWnd, GWLP_USERDATA));
        if (AMsg == WM_COPYDATA && self) {
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(ALParam);
            if (data && data->dwData == KReplyTag) {
                self->FAnswer.assign(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
                self->FAnswered = true;
                return TRUE;
            }
        }
        return DefWindowProcW(AWnd, AMsg, AWParam, ALParam);
    }

    fw::TModuleHandle FHook;
    HOOKPROC FProc = nullptr;
    UINT FMessage = 0;
    fw::TWindowHandle FReply;
    std::wstring FAnswer;
    bool FAnswered = false;
};

} // namespace tools
