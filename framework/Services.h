#pragma once
// The one place where the program reaches the operating-system services that
// its tests stand in for, with the few timings and sizes that tests shrink.
// Many of the program's classes have shapes that take no dependencies (static
// operations, constructors without arguments, one-argument handlers), so they
// all ask here, and there is one way to replace a service. The entry fills it
// in before anything runs; tests put their fakes in it; nothing else sets it.
// What it holds is never freed: a worker still running at exit reads nothing
// that the exit destroys.
#include <windows.h>

#include <cstddef>

namespace RasApi {
class TBinding; // the remote-access service (net_vpn/RasApi.h); the framework only carries it
}

namespace fw {

class TNotifyArea;

struct TServices {
    // Starts a worker thread: CreateThread with default security and stack, no id.
    HANDLE (*StartThread)(LPTHREAD_START_ROUTINE AProc, LPVOID AParam, DWORD AFlags) = nullptr;
    // Loads an icon resource of the executable at a size: LoadImageW.
    HICON (*LoadIcon)(LPCWSTR AName, int AWidth, int AHeight) = nullptr;
    // Whether the user's high-contrast scheme is on: SPI_GETHIGHCONTRAST.
    bool (*HighContrast)() = nullptr;
    // A window's pixels per inch: GetDpiForWindow, where the system has it.
    UINT (*WindowDpi)(HWND AWnd) = nullptr;
    // Where tray icons send their changes: Shell_NotifyIconW.
    TNotifyArea* NotifyArea = nullptr;
    // The remote-access service; none (every call answers ERROR_PROC_NOT_FOUND)
    // until the entry binds the system's.
    const RasApi::TBinding* RemoteAccess = nullptr;

    // The first delay before a shell that refused the tray icon is asked again, ms.
    unsigned TrayRetryDelay = 1000;
    // UTF-16 units, NUL included, that the executable's path is read into.
    size_t PathBufferUnits = 261;
    // How long one request waits at most, in all, for hung-up lines to close, ms.
    DWORD LineCloseLimit = 10000;
    // How often a closing line is asked whether it has gone, ms.
    DWORD LineClosePoll = 50;
};

// The system's own services and the program's timings; no remote-access service.
TServices SystemServices();
// The services in force: the last ones installed, else SystemServices().
const TServices& Services() noexcept;
// Puts a copy of AServices in force for every later call of Services().
void InstallServices(const TServices& AServices);

} // namespace fw
