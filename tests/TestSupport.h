#pragma once
// Shared fixtures: the simulated service's scenario and log, a stand-in
// notification area that records what the program tells it, and message pumping.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "framework/Handles.h"
#include "framework/NotifyArea.h"
#include "framework/Services.h"
#include "framework/Window.h"
#include "net_vpn/RasApi.h"

namespace test {

// A scenario file and call log of the simulated service for one test; the
// service reads both paths from this process's environment.
class TRasScenario {
public:
    TRasScenario();
    ~TRasScenario();
    TRasScenario(const TRasScenario&) = delete;
    TRasScenario& operator=(const TRasScenario&) = delete;

    // Replaces the scenario with these lines (TAB-separated fields, UTF-8).
    void Write(const std::vector<std::wstring>& ALines);
    std::vector<std::wstring> LogLines() const;
    // The log lines that start with AFunction followed by a TAB.
    std::vector<std::wstring> Calls(const std::wstring& AFunction) const;
    void ClearLog();

private:
    std::wstring FDir, FScenario, FLog;
};

// The services the program's entry installs: the system's, with the
// remote-access service bound (in tests, the simulated one in the prefix).
void InstallProgramServices();

// While it lives, the services in force are those before it with AChange
// applied; then those before it again. Scopes end in the reverse order of their start.
class TServicesScope {
public:
    explicit TServicesScope(const std::function<void(fw::TServices&)>& AChange);
    ~TServicesScope();
    TServicesScope(const TServicesScope&) = delete;
    TServicesScope& operator=(const TServicesScope&) = delete;

private:
    fw::TServices FPrevious;
};

// Failures that a test cannot bring about for real, put into the services
// while it lives: a worker thread that cannot start, an icon that cannot be
// loaded, a remote-access call that raises or fails. Each one armed hits the
// next call of its kind, once. A thread or icon that fails reports
// ERROR_NOT_ENOUGH_MEMORY, and a call that raises raises EOSError for it, as
// the system does when it runs out. Every other call goes to the system (and
// the remote-access calls to the simulated service). One at a time.
class TFaultyServices final : public RasApi::TBinding {
public:
    TFaultyServices();
    ~TFaultyServices() override;
    TFaultyServices(const TFaultyServices&) = delete;
    TFaultyServices& operator=(const TFaultyServices&) = delete;
    TFaultyServices(TFaultyServices&&) = delete;
    TFaultyServices& operator=(TFaultyServices&&) = delete;

    void FailThreadStart() { GThreadStart = true; }
    void FailIconLoad() { GIconLoad = true; }
    // AFunction is the service's name for it ("RasDialW").
    void RaiseIn(const std::string& AFunction);
    void FailIn(const std::string& AFunction, DWORD ACode);

    DWORD EnumEntries(LPCWSTR AReserved, LPCWSTR APhonebook, RasApi::TRasEntryNameW* AEntries, LPDWORD ASize,
                      LPDWORD ACount) const override;
    DWORD GetEntryProperties(LPCWSTR APhonebook, LPCWSTR AEntry, RasApi::RASENTRYW* AEntryInfo, LPDWORD ASize,
                             LPBYTE ADeviceInfo, LPDWORD ADeviceInfoSize) const override;
    DWORD GetEntryDialParams(LPCWSTR APhonebook, RasApi::RASDIALPARAMSW* AParams, LPBOOL AHasPassword) const override;
    DWORD Dial(void* AExtensions, LPCWSTR APhonebook, RasApi::RASDIALPARAMSW* AParams, DWORD ANotifierType,
               void* ANotifier, RasApi::HRASCONN* AConnection) const override;
    DWORD HangUp(RasApi::HRASCONN AConnection) const override;
    DWORD EnumConnections(RasApi::TRasConnW* AConnections, LPDWORD ASize, LPDWORD ACount) const override;
    DWORD GetConnectStatus(RasApi::HRASCONN AConnection, RasApi::RASCONNSTATUSW* AStatus) const override;

private:
    // The armed failure of AFunction, if any, spent: 0 when none is armed; raises for RaiseIn.
    DWORD Spend(const char* AFunction) const;
    static HANDLE StartThread(LPTHREAD_START_ROUTINE AProc, LPVOID AParam, DWORD AFlags);
    static HICON LoadIcon(LPCWSTR AName, int AWidth, int AHeight);

    static inline std::atomic<bool> GThreadStart{false}, GIconLoad{false};
    static constexpr DWORD KRaise = 0xFFFFFFFF;
    mutable std::mutex FLock;
    mutable std::map<std::string, DWORD> FArmed; // function name: its code, or KRaise
    TServicesScope FScope;
};

// One call the program made to the notification area, as the area saw it.
struct TNotifyRecord {
    DWORD Message = 0; // NIM_ADD, NIM_MODIFY, NIM_DELETE
    UINT Flags = 0;
    std::wstring Tip, Info, InfoTitle;
    UINT Timeout = 0;
    DWORD InfoFlags = 0;
    bool HasIcon = false;
    unsigned IconWidth = 0;
    std::vector<BYTE> IconBits; // the icon's colour pixels, 32 bits each
    bool Accepted = false;      // what the area answered
};

// A notification area that records every call instead of showing anything.
// While it lives, it is the services': tray icons made meanwhile talk to it.
// Like the shell, it refuses to add an icon it holds and to change or delete
// one it does not hold, unless a test lets it take anything.
class TFakeTray final : public fw::TNotifyArea {
public:
    TFakeTray();
    ~TFakeTray() override;
    TFakeTray(const TFakeTray&) = delete;
    TFakeTray& operator=(const TFakeTray&) = delete;
    TFakeTray(TFakeTray&&) = delete;
    TFakeTray& operator=(TFakeTray&&) = delete;

    bool Notify(DWORD AMessage, const NOTIFYICONDATAW& AData) override;

    std::vector<TNotifyRecord> Records;
    bool Refuse = false;        // answer FALSE to everything, as a shell that refuses the change
    bool TakesAnything = false; // accept what a shell would refuse; the icons held are still tracked
    // The shell loses every icon it held, without telling anyone.
    void LoseIcons() { FIcons.clear(); }

private:
    TServicesScope FScope;
    std::vector<std::pair<HWND, UINT>> FIcons; // window and id of each icon held
};

// Runs AStep every AIntervalMs on this thread, also inside modal loops (an
// open menu, a message box), until it returns true. Give up with the owner.
// A step that opens a modal loop of its own is not run again inside it.
class TRunSoon {
public:
    explicit TRunSoon(std::function<bool()> AStep, UINT AIntervalMs = 30);
    ~TRunSoon();
    TRunSoon(const TRunSoon&) = delete;
    TRunSoon& operator=(const TRunSoon&) = delete;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR AId, DWORD);
    std::function<bool()> FStep;
    UINT_PTR FTimer = 0;
    bool FRunning = false;
};

// What ThrownMessage answers when AAction threw nothing.
inline const std::wstring KNothingThrown = L"<nothing thrown>";

// Runs AAction and answers the message of the E it threw, or KNothingThrown.
// Anything else it throws goes on to the test.
template <typename E, typename F>
std::wstring ThrownMessage(F AAction)
{
    try {
        AAction();
    } catch (const E& e) {
        return e.Message();
    }
    return KNothingThrown;
}

// While it lives, every dialog box this thread shows (class "#32770") is
// recorded with its message text and closed with OK after AHoldMs; the most
// boxes open at once are counted too.
class TBoxCatcher {
public:
    explicit TBoxCatcher(UINT AHoldMs = 0);
    ~TBoxCatcher();
    TBoxCatcher(const TBoxCatcher&) = delete;
    TBoxCatcher& operator=(const TBoxCatcher&) = delete;

    std::vector<std::wstring> Texts; // in the order the boxes appeared
    int MostOpen = 0;

private:
    static LRESULT CALLBACK Hook(int ACode, WPARAM AWParam, LPARAM ALParam);
    static void CALLBACK Close(HWND AWnd, UINT, UINT_PTR AId, DWORD);
    UINT FHoldMs;
    int FOpen = 0;
    HHOOK FHook = nullptr;
    TBoxCatcher* FOuter = nullptr;
};

// A hidden window for the timers and menus of a test, as a form is for the program's.
class THost : public fw::THostWindow {
public:
    THost() { CreateHandle(L"TestHost"); }
};

// Dispatches this thread's messages until APredicate holds or the time is up.
bool PumpUntil(const std::function<bool()>& APredicate,
               std::chrono::milliseconds ATimeout = std::chrono::milliseconds(10000));
void PumpPending();

// Runs AAction, which opens a menu that something else is meant to close (a
// TRunSoon step, the item chosen). Should AAction still be running ALimit
// after it started, every menu of this thread is ended, tick after tick, so
// that the menu's modal loop returns and the test fails instead of hanging:
// false then.
bool MenuClosesWithin(const std::function<void()>& AAction,
                      std::chrono::milliseconds ALimit = std::chrono::milliseconds(5000));

// A worker thread that this thread awaits while it goes on dispatching its
// messages, as a worker waiting for a hand-off to this thread needs it to.
class TWorker {
public:
    explicit TWorker(std::function<void()> ABody);
    // Awaits the worker as JoinWithin does, unless a wait has already given up.
    ~TWorker();
    TWorker(const TWorker&) = delete;
    TWorker& operator=(const TWorker&) = delete;
    TWorker(TWorker&&) = delete;
    TWorker& operator=(TWorker&&) = delete;

    // True once the body has returned within ALimit. False when it has not:
    // the worker is then left running, with its body, for the test has failed
    // and must not hang.
    bool JoinWithin(std::chrono::milliseconds ALimit = std::chrono::milliseconds(10000));

private:
    static DWORD WINAPI Run(LPVOID AParam);
    fw::TKernelHandle FThread;
    bool FGaveUp = false;
};

// A path of the build tree (Unix form) in the form Windows calls accept.
std::wstring HostPath(const char* AUnixPath);

} // namespace test
