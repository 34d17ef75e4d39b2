#pragma once
// The notification area as the tray icon talks to it: one call per change, as
// Shell_NotifyIconW takes it. The program's is the shell's own; a test puts a
// recording one in its place in the services (framework/Services.h).
#include <windows.h>
#include <shellapi.h>

namespace fw {

class TNotifyArea {
public:
    TNotifyArea() = default;
    virtual ~TNotifyArea() = default;
    TNotifyArea(const TNotifyArea&) = delete;
    TNotifyArea& operator=(const TNotifyArea&) = delete;
    TNotifyArea(TNotifyArea&&) = delete;
    TNotifyArea& operator=(TNotifyArea&&) = delete;

    // AMessage is NIM_ADD, NIM_MODIFY or NIM_DELETE; true when the area took it.
    virtual bool Notify(DWORD AMessage, const NOTIFYICONDATAW& AData) = 0;
};

// The shell's notification area: Shell_NotifyIconW.
TNotifyArea& ShellNotifyArea();

} // namespace fw
