#pragma once
// Shared fixtures: the simulated service's scenario and log, a stand-in
// notification area that records what the program tells it, and message pumping.
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "framework/NotifyArea.h"
#include "framework/Window.h"

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
// While it lives, it is the application's: tray icons made meanwhile talk to it.
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
    bool Refuse = false; // answer FALSE, as a shell that refuses the change
    // Refuse, as a real shell does, to add an icon it holds or to change or
    // delete one it does not. The icons accepted so far are always tracked.
    bool KeepsIcons = false;
    // The shell loses every icon it held, without telling anyone.
    void LoseIcons() { FIcons.clear(); }

private:
    fw::TNotifyArea* FPrevious;
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

// A path of the build tree (Unix form) in the form Windows calls accept.
std::wstring HostPath(const char* AUnixPath);

} // namespace test
