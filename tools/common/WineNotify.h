#pragma once
// What Wine's shell32 sends the shell's tray window in WM_COPYDATA for each
// Shell_NotifyIconW call: this record, then the icon's bits. A Wine-internal
// layout, pinned to Wine 8; the stand-in trays of the tests read it.
#include <windows.h>

namespace tools {

#pragma pack(push, 4)
struct TWineNotifyData {
    LONG hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    WCHAR szTip[128];
    DWORD dwState;
    DWORD dwStateMask;
    WCHAR szInfo[256];
    UINT uTimeout;
    WCHAR szInfoTitle[64];
    DWORD dwInfoFlags;
    GUID guidItem;
    UINT width, height, planes, bpp;
};
#pragma pack(pop)
static_assert(sizeof(TWineNotifyData) == 960);

} // namespace tools
