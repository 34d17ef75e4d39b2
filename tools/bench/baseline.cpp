// The least a tray program does: one hidden window, one tray icon with a tip,
// a message loop, and the icon removed again at exit. Start-up benchmarks
// measure the product against this. Plain Win32 on purpose: a handle owner
// with a destructor would link the C++ exception runtime (about 110 KB more
// image), a cost of the product, not of the job.
#include <windows.h>
#include <shellapi.h>

namespace {

constexpr UINT KTrayCallback = WM_APP + 1;
constexpr UINT KTrayId = 1;
constexpr wchar_t KClassName[] = L"TwBaselineWindow";

LRESULT CALLBACK WndProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam)
{
    switch (AMsg) {
    case WM_CLOSE:
        // The window outlives the loop and goes at the end of wWinMain.
        PostQuitMessage(0);
        return 0;
    default: return DefWindowProcW(AWnd, AMsg, AWParam, ALParam);
    }
}

} // namespace

int WINAPI wWinMain(HINSTANCE AInstance, HINSTANCE, LPWSTR, int)
{
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WndProc;
    wc.hInstance = AInstance;
    wc.lpszClassName = KClassName;
    if (!RegisterClassExW(&wc)) return 1;
    HWND wnd = CreateWindowExW(0, KClassName, L"tw_baseline", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, AInstance,
                               nullptr);
    if (!wnd) return 1;

    NOTIFYICONDATAW data{};
    data.cbSize = sizeof(data);
    data.hWnd = wnd;
    data.uID = KTrayId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = KTrayCallback;
    // A stock icon is shared by the system and never destroyed.
    data.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    lstrcpynW(data.szTip, L"Baseline", ARRAYSIZE(data.szTip));
    Shell_NotifyIconW(NIM_ADD, &data);

    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }

    Shell_NotifyIconW(NIM_DELETE, &data);
    DestroyWindow(wnd);
    return 0;
}
