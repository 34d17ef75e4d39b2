#pragma once
// What the test tools and the hook DLL agree on with each other and with the
// program: the windows they look for, the program's tray callback, and the
// inspect protocol between a tool and twmenuhook.dll.
//
// The program defines its tray callback itself; a unit test that sees both
// headers holds the two equal.
#include <windows.h>

namespace tools {

// The program's tray icon window, and the callback its icon was added with.
constexpr wchar_t KTrayIconClass[] = L"TTrayIcon";
constexpr UINT KTrayCallback = WM_USER + 1;
constexpr WPARAM KTrayIconId = 1;

constexpr wchar_t KMenuClass[] = L"#32768";
// The shell's taskbar window, which holds the notification area and shows its balloons.
constexpr wchar_t KShellTrayClass[] = L"Shell_TrayWnd";

// The inspect protocol. A tool hooks the thread that owns a window with
// KHookProc of KHookDll and sends the window the registered KInspectMessage,
// its reply window in wParam and a request in lParam. The hook answers with
// one WM_COPYDATA (dwData KReplyTag) of UTF-16 lines, or one line that starts
// with KInspectError.
constexpr wchar_t KHookDll[] = L"twmenuhook.dll";
constexpr char KHookProc[] = "TwInspectHook";
constexpr wchar_t KInspectMessage[] = L"twdriver.inspect";
constexpr ULONG_PTR KReplyTag = 0x54574931; // "TWI1"
constexpr wchar_t KInspectError[] = L"error\t";
// How long a tool waits for the window to take the request, and the hook for
// the tool to take the answer: generous, as either process may wait its turn on
// a busy machine, and a failure here fails the test.
constexpr UINT KInspectTimeoutMs = 10000;
constexpr UINT KReplyTimeoutMs = 10000;

} // namespace tools
