#pragma once
// What tw_trayrec.dll reports of each Shell_NotifyIconW call a program makes,
// and how a watcher puts it in place. The record is this project's own: the
// same on Windows and on every Wine, whatever the shell does with the call.
//
// The watcher hooks every thread of the desktop with KRecorderHookProc of
// KRecorderDll (WH_CBT, so the DLL is loaded into a program when it creates its
// first window, before any icon) and starts the program with KRecorderWindowVariable
// naming its window in hexadecimal. In that program alone the DLL takes the
// place of Shell_NotifyIconW in the main module's imports; every call goes on
// to the shell as before and is then sent to the window as WM_COPYDATA
// (dwData KTrayRecordTag, one TTrayRecord).
#include <windows.h>

namespace tools {

constexpr wchar_t KRecorderDll[] = L"tw_trayrec.dll";
constexpr char KRecorderHookProc[] = "TwTrayRecorderHook";
constexpr wchar_t KRecorderWindowVariable[] = L"TW_TRAYREC_WINDOW";
constexpr ULONG_PTR KTrayRecordTag = 0x54575452; // "TWTR"

struct TTrayRecord {
    DWORD Pid = 0;        // the calling process
    LONGLONG Time = 0;    // QueryPerformanceCounter as the call began
    DWORD Message = 0;    // NIM_ADD, NIM_MODIFY, NIM_DELETE, ...
    UINT Flags = 0;       // uFlags
    BOOL Result = FALSE;  // what the shell answered
    UINT IconWidth = 0;   // the width of hIcon when NIF_ICON is set, else 0
    DWORD InfoFlags = 0;  // dwInfoFlags
    WCHAR Tip[128] = {};  // szTip
    WCHAR Info[256] = {}; // szInfo
    WCHAR InfoTitle[64] = {};
};

} // namespace tools
