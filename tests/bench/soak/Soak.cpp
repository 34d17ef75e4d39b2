// tw_soak: drives one running Tarnwick through many cycles of use, the way a
// user does, and reads what they leave behind in its process. Run by soak.py.
//
// A cycle: connect ENTRY and disconnect it again from the tray menu (the tray
// callback posted to the icon's window, Down and Return posted to the open
// menu), open the menu once more and close it with Escape (left and right
// clicks in turn), and every --dpi-every cycles one DPI change, delivered as
// WM_DPICHANGED inside the program by twmenuhook.dll.
//
// It records the program's own Shell_NotifyIconW calls with tw_trayrec.dll
// (tools/common/TrayRecord.h), so it sees each result balloon and icon change
// the moment the program sends it: every step waits for what it caused, never
// for a fixed time. The recorder must be in place before the program starts:
// with --ready BASE, tw_soak writes its window (the value of TW_TRAYREC_WINDOW
// for the program) to BASE.ready, then waits for the program's tray icon.
//
// Readings (twmenuhook.dll, in the program's process) are taken at the start,
// once a warm-up cycle has filled every cache, then every --report-every
// cycles, each once no menu is open and no worker thread is left. Output, one
// line each:
//   reading <TAB> phase=start|warm|cycles <TAB> cycle=N <TAB> seconds=S <TAB> settle_ms=M <TAB> key=value ...
//   soak ok cycles=N menus=N dpi_changes=N seconds=S
// or "soak error=..." with exit code 1 (2: a wrong command line).
#include <windows.h>
#include <shellapi.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "framework/Handles.h"
#include "tools/common/InspectClient.h"
#include "tools/common/Protocol.h"
#include "tools/common/TrayRecorder.h"
#include "tools/common/WindowQueries.h"

namespace {

using tools::KMenuClass;
using tools::KTrayCallback;
using tools::KTrayIconClass;
using tools::KTrayIconId;

// Shorter than the tools' poll: every step of hundreds of cycles waits on it.
constexpr DWORD KPollMs = 5;
// A request may deliver a DPI change, which the program answers with new
// icons before the hook replies: twice what a plain reading needs.
constexpr UINT KInspectTimeoutMs = 2 * tools::KInspectTimeoutMs;

// The DPIs the changes go through in turn: four icon sizes (24, 32, 20, 16).
constexpr UINT KDpis[] = {144, 192, 120, 96};

struct TFailure {
    std::string What;
};

[[noreturn]] void Fail(const std::string& AWhat)
{
    throw TFailure{AWhat};
}

std::string Narrow(const std::wstring& AText)
{
    std::string out;
    for (wchar_t c : AText) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

void Print(const std::string& ALine)
{
    std::string line = ALine + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// What the recorder has seen of the program's tray calls.
struct TTraySeen {
    DWORD Pid = 0;
    unsigned Modifies = 0;
    unsigned Balloons = 0;
    std::wstring LastBalloon;
    unsigned LastIconWidth = 0;
};
TTraySeen GSeen;

void See(const tools::TTrayRecord& ARecord)
{
    if (GSeen.Pid && ARecord.Pid != GSeen.Pid) return;
    if (ARecord.Message != NIM_MODIFY) return;
    ++GSeen.Modifies;
    if (ARecord.Flags & NIF_INFO) {
        ++GSeen.Balloons;
        GSeen.LastBalloon.assign(ARecord.Info, wcsnlen(ARecord.Info, std::size(ARecord.Info)));
    }
    if (ARecord.Flags & NIF_ICON) GSeen.LastIconWidth = ARecord.IconWidth;
}

// Serves this thread's windows (the recorder's above all: the program waits
// for it in each Shell_NotifyIconW call) until ADone holds; fails at the deadline.
template <typename TDone>
void PumpUntil(const char* AWhat, DWORD ATimeoutMs, TDone ADone)
{
    ULONGLONG deadline = GetTickCount64() + ATimeoutMs;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        if (ADone()) return;
        if (GetTickCount64() >= deadline) Fail(std::string("time-out: ") + AWhat);
        MsgWaitForMultipleObjectsEx(0, nullptr, KPollMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

HWND ProgramWindow(const wchar_t* AClass, bool AVisibleOnly)
{
    struct TSearch {
        const wchar_t* Class;
        bool VisibleOnly;
        HWND Found;
    } search{AClass, AVisibleOnly, nullptr};
    EnumWindows(
        [](HWND AWnd, LPARAM AParam) -> BOOL {
            auto* s = reinterpret_cast<TSearch*>(AParam);
            DWORD pid = 0;
            GetWindowThreadProcessId(AWnd, &pid);
            if (pid != GSeen.Pid || !tools::SameClass(AWnd, s->Class)) return TRUE;
            if (s->VisibleOnly && !IsWindowVisible(AWnd)) return TRUE;
            s->Found = AWnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

// The program's handles as the system's handle table lists them. Counted from
// here, so the reading costs the program nothing; under Wine this is the count
// that works (GetProcessHandleCount answers 0, even in the process itself).
constexpr ULONG KSystemHandleInformation = 16;
constexpr NTSTATUS KInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);

struct TSystemHandleEntry {
    ULONG OwnerPid;
    BYTE ObjectType;
    BYTE HandleFlags;
    USHORT HandleValue;
    PVOID ObjectPointer;
    ULONG AccessMask;
};

struct TSystemHandles {
    ULONG Count;
    TSystemHandleEntry Handles[1];
};

std::string TableHandleCount(DWORD APid)
{
    using TQuerySystem = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
    static const auto query = reinterpret_cast<TQuerySystem>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query) return "n/a";
    std::vector<BYTE> buffer(1 << 16);
    NTSTATUS status;
    ULONG needed = 0;
    while ((status = query(KSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
           KInfoLengthMismatch)
        buffer.resize(std::max<size_t>(buffer.size() * 2, needed));
    if (status != 0) return "n/a";
    const auto* table = reinterpret_cast<const TSystemHandles*>(buffer.data());
    size_t count = 0;
    for (ULONG i = 0; i < table->Count; ++i)
        if (table->Handles[i].OwnerPid == APid) ++count;
    return std::to_string(count);
}

// ---- asking twmenuhook.dll inside the program ----

class TInspector {
public:
    explicit TInspector(HWND ATarget) : FTarget(ATarget) { Check(FClient.Open(L"tw_soak.reply")); }

    // The hook's answer to one request (0: the resources; else a DPI to deliver).
    std::wstring Ask(LPARAM ARequest) { return Check(FClient.Ask(FTarget, ARequest, KInspectTimeoutMs)); }

private:
    static std::wstring Check(tools::TInspectAnswer AAnswer)
    {
        std::string error = std::to_string(AAnswer.Error);
        switch (AAnswer.Fault) {
        case tools::TInspectFault::None: break;
        case tools::TInspectFault::LoadHook: Fail("cannot load twmenuhook.dll, error " + error);
        case tools::TInspectFault::NoHookProc: Fail("twmenuhook.dll has no TwInspectHook");
        case tools::TInspectFault::ReplyWindow: Fail("cannot create the reply window, error " + error);
        case tools::TInspectFault::SetHook: Fail("SetWindowsHookExW failed, error " + error);
        case tools::TInspectFault::NotTaken: Fail("the tray icon's window did not take the request, error " + error);
        case tools::TInspectFault::NoAnswer: Fail("twmenuhook.dll gave no answer");
        case tools::TInspectFault::HookError: Fail("twmenuhook.dll: " + Narrow(AAnswer.Text));
        }
        return AAnswer.Text;
    }

    HWND FTarget;
    tools::THookClient FClient;
};

// ---- the cycle ----

struct TOptions {
    unsigned Cycles = 500;
    unsigned DpiEvery = 5;
    unsigned ReportEvery = 50;
    std::wstring Entry = L"Office";
    DWORD TimeoutMs = 10000;
    std::wstring Ready;
};

class TSoak {
public:
    TSoak(const TOptions& AOptions, HWND ATray) : FOptions(AOptions), FTray(ATray), FInspector(ATray) {}

    void Run()
    {
        FBegan = GetTickCount64();
        FBaseThreads = Reading(L"start", 0);
        // The warm-up: both results, the menu at both buttons, every image size.
        Cycle(0, false); // opens the menu at the left button
        OpenAndCloseMenu(true);
        for (size_t i = 0; i < std::size(KDpis); ++i) ChangeDpi();
        FMenus = FDpiChanges = 0;
        Reading(L"warm", 0);
        for (unsigned n = 1; n <= FOptions.Cycles; ++n) {
            Cycle(n, n % FOptions.DpiEvery == 0);
            if (n % FOptions.ReportEvery == 0 || n == FOptions.Cycles) Reading(L"cycles", n);
        }
        char line[160];
        std::snprintf(line, sizeof(line), "soak ok cycles=%u menus=%u dpi_changes=%u seconds=%.1f", FOptions.Cycles,
                      FMenus, FDpiChanges, Seconds());
        Print(line);
    }

private:
    double Seconds() const { return static_cast<double>(GetTickCount64() - FBegan) / 1000.0; }

    void Click(UINT AButtonUp)
    {
        if (!PostMessageW(FTray, KTrayCallback, KTrayIconId, AButtonUp))
            Fail("posting the tray callback failed, error " + std::to_string(GetLastError()));
    }

    HWND WaitMenu()
    {
        HWND menu = nullptr;
        PumpUntil("the menu did not open", FOptions.TimeoutMs,
                  [&] { return (menu = ProgramWindow(KMenuClass, true)) != nullptr; });
        return menu;
    }

    void WaitMenuGone()
    {
        PumpUntil("the menu did not close", FOptions.TimeoutMs,
                  [] { return ProgramWindow(KMenuClass, true) == nullptr; });
    }

    // The menu's own loop reads the program thread's queue: posted keys reach it as typed ones.
    static void Key(HWND AMenu, WORD AKey)
    {
        LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(AKey, MAPVK_VK_TO_VSC)) << 16;
        PostMessageW(AMenu, WM_KEYDOWN, AKey, 1 | scan);
        PostMessageW(AMenu, WM_KEYUP, AKey, 1 | scan | (LPARAM{3} << 30));
    }

    // Chooses the first entry (the program lists the entries first) and waits for its result balloon.
    void Request(const wchar_t* AResult)
    {
        std::wstring expected = FOptions.Entry + L": " + AResult;
        unsigned before = GSeen.Balloons;
        Click(WM_LBUTTONUP);
        HWND menu = WaitMenu();
        Key(menu, VK_DOWN);
        Key(menu, VK_RETURN);
        PumpUntil("no result balloon", FOptions.TimeoutMs, [&] { return GSeen.Balloons > before; });
        if (GSeen.LastBalloon != expected)
            Fail("the result was \"" + Narrow(GSeen.LastBalloon) + "\", not \"" + Narrow(expected) + "\"");
        WaitMenuGone();
    }

    void OpenAndCloseMenu(bool ARight)
    {
        Click(ARight ? WM_RBUTTONUP : WM_LBUTTONUP);
        Key(WaitMenu(), VK_ESCAPE);
        WaitMenuGone();
        ++FMenus;
    }

    static unsigned IconSizeAt(UINT ADpi) { return static_cast<unsigned>(GetSystemMetricsForDpi(SM_CXSMICON, ADpi)); }

    // The next DPI in turn whose icon size differs from the shell's icon now.
    // (A connect or disconnect since the last change has the program ask for
    // the DPI again, which under Wine is still the system's 96.)
    void ChangeDpi()
    {
        UINT dpi = KDpis[FNextDpi++ % std::size(KDpis)];
        if (IconSizeAt(dpi) == GSeen.LastIconWidth) dpi = KDpis[FNextDpi++ % std::size(KDpis)];
        unsigned before = GSeen.Modifies;
        FInspector.Ask(static_cast<LPARAM>(dpi));
        // The program's Shell_NotifyIconW call was recorded while the request was sent.
        unsigned expected = IconSizeAt(dpi);
        if (GSeen.Modifies == before || GSeen.LastIconWidth != expected)
            Fail("after WM_DPICHANGED for " + std::to_string(dpi) + " DPI the shell has a " +
                 std::to_string(GSeen.LastIconWidth) + " px icon, not " + std::to_string(expected) + " px");
        ++FDpiChanges;
    }

    void Cycle(unsigned AIndex, bool AChangeDpi)
    {
        try {
            Request(L"Connected");
            Request(L"Disconnected");
            OpenAndCloseMenu(AIndex % 2 == 1);
            if (AChangeDpi) ChangeDpi();
        } catch (TFailure& failure) {
            failure.What += " (cycle " + std::to_string(AIndex) + ")";
            throw;
        }
    }

    // Waits until no worker is left (the thread count is back at the first
    // reading's), then prints the reading; returns its thread count.
    unsigned Reading(const wchar_t* APhase, unsigned ACycle)
    {
        ULONGLONG began = GetTickCount64();
        std::wstring answer;
        unsigned threads = 0;
        for (;;) {
            answer = FInspector.Ask(0);
            size_t at = answer.find(L"\tthreads=");
            if (at == std::wstring::npos) Fail("the reading has no thread count");
            threads = static_cast<unsigned>(std::wcstoul(answer.c_str() + at + 9, nullptr, 10));
            if (FBaseThreads == 0 || threads <= FBaseThreads) break;
            if (GetTickCount64() - began > FOptions.TimeoutMs) Fail("worker threads still running after the time-out");
            ULONGLONG until = GetTickCount64() + 20;
            PumpUntil("", FOptions.TimeoutMs, [&] { return GetTickCount64() >= until; });
        }
        while (!answer.empty() && (answer.back() == L'\n' || answer.back() == L'\r')) answer.pop_back();
        // "resources" TAB key=value ...
        std::wstring fields = answer.substr(answer.find(L'\t') + 1);
        char head[128];
        std::snprintf(head, sizeof(head), "reading\tphase=%ls\tcycle=%u\tseconds=%.1f\tsettle_ms=%llu\t", APhase,
                      ACycle, Seconds(), static_cast<unsigned long long>(GetTickCount64() - began));
        Print(head + Narrow(fields) + "\thandles_table=" + TableHandleCount(GSeen.Pid));
        return threads;
    }

    TOptions FOptions;
    HWND FTray;
    TInspector FInspector;
    ULONGLONG FBegan = 0;
    unsigned FBaseThreads = 0;
    unsigned FMenus = 0;
    unsigned FDpiChanges = 0;
    size_t FNextDpi = 0;
};

bool ParseOptions(int AArgc, wchar_t** AArgv, TOptions& AOptions)
{
    for (int i = 1; i < AArgc; i += 2) {
        if (i + 1 >= AArgc) return false;
        std::wstring name = AArgv[i], value = AArgv[i + 1];
        if (name == L"--entry" || name == L"--ready") {
            (name == L"--entry" ? AOptions.Entry : AOptions.Ready) = value;
            continue;
        }
        wchar_t* end = nullptr;
        unsigned long number = std::wcstoul(value.c_str(), &end, 10);
        if (value.empty() || *end || number == 0) return false;
        if (name == L"--cycles")
            AOptions.Cycles = static_cast<unsigned>(number);
        else if (name == L"--dpi-every")
            AOptions.DpiEvery = static_cast<unsigned>(number);
        else if (name == L"--report-every")
            AOptions.ReportEvery = static_cast<unsigned>(number);
        else if (name == L"--timeout-ms")
            AOptions.TimeoutMs = static_cast<DWORD>(number);
        else
            return false;
    }
    return true;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    TOptions options;
    if (!ParseOptions(argc, argv, options)) {
        Print("usage: tw_soak [--cycles N] [--dpi-every N] [--report-every N] [--entry NAME] [--timeout-ms N] "
              "[--ready BASE]");
        return 2;
    }
    try {
        tools::TTrayRecorder recorder;
        recorder.OnRecord = See;
        std::wstring error;
        if (!recorder.Start(error)) Fail("the recorder: " + Narrow(error));
        if (!options.Ready.empty()) {
            std::string text = Narrow(recorder.WindowText());
            fw::TFileHandle file(
                CreateFileW((options.Ready + L".ready").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            DWORD written = 0;
            if (!file || !WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
                Fail("cannot write the ready file");
        }
        // The program is started now, with the recorder's window in its environment.
        HWND tray = nullptr;
        PumpUntil("Tarnwick is not running (no window of class TTrayIcon)", 3 * options.TimeoutMs,
                  [&] { return (tray = FindWindowW(KTrayIconClass, nullptr)) != nullptr; });
        GetWindowThreadProcessId(tray, &GSeen.Pid);

        TSoak(options, tray).Run();
        return 0;
    } catch (const TFailure& failure) {
        Print("soak error=" + failure.What);
        return 1;
    }
}
