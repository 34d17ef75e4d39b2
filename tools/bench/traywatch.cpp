// Measures how long a tray program takes to put its icon up and how much memory
// it holds once idle. It records the program's own Shell_NotifyIconW calls
// with tw_trayrec.dll (tools/common/TrayRecord.h), in place before the
// program's first window: the shell still gets every call and shows the icon.
//
// Usage: tw_traywatch [--timeout-ms N] [--settle-ms N] [--close-ms N]
//                     [--handshake BASE] [--] PROGRAM [ARGS...]
//        tw_traywatch --hold-desktop BASE
// Prints one line: "traywatch ok key=value ..." or "traywatch error=WHAT ...".
// Keys: tray_ms (CreateProcess to the first NIM_ADD call), idle_ms (to input
// idle), settled_ms (to a quiet spell of --settle-ms after idle), added (what
// the shell answered that NIM_ADD: 1 took it), adds/modifies/deletes (the
// program's tray calls), ws/peak_ws/private/pagefile (GetProcessMemoryInfo
// once settled), exit (clean: ended after a quit; killed; gone: ended by
// itself) and code.
// With --handshake it creates BASE.ready once the figures are taken and waits
// for BASE.go before ending the program, so a caller can look at it first.
// --hold-desktop keeps the session's desktop, and with it the desktop's
// explorer, alive between measured starts: Wine closes a desktop a second after
// its last program leaves, and a start that races explorer's restart measures
// explorer. It creates BASE.ready once the shell's taskbar window is up and
// leaves when BASE.go appears.
#include <windows.h>
#include <psapi.h>
#include <shellapi.h>

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "framework/Handles.h"
#include "tools/common/Protocol.h"
#include "tools/common/TrayRecorder.h"

namespace {

using tools::KShellTrayClass;

int64_t Now() noexcept
{
    LARGE_INTEGER v;
    QueryPerformanceCounter(&v);
    return v.QuadPart;
}

double Millis(int64_t ATicks) noexcept
{
    static const int64_t frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f.QuadPart;
    }();
    return static_cast<double>(ATicks) * 1000.0 / static_cast<double>(frequency);
}

int64_t Ticks(DWORD AMillis) noexcept
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<int64_t>(AMillis) * f.QuadPart / 1000;
}

struct TOptions {
    DWORD TimeoutMs = 30000;
    DWORD SettleMs = 500;
    DWORD CloseMs = 5000;
    std::wstring Handshake;
    std::wstring CommandLine;
};

// The watched program's tray calls.
struct TTrayLog {
    DWORD Pid = 0;
    int Adds = 0;
    int Modifies = 0;
    int Deletes = 0;
    BOOL FirstAddResult = FALSE;
    int64_t FirstAdd = 0;
    int64_t Last = 0;
};

// Quoted so the child's argument parser gives back exactly AArg.
void AppendArgument(std::wstring& ALine, const std::wstring& AArg)
{
    if (!ALine.empty()) ALine += L' ';
    if (!AArg.empty() && AArg.find_first_of(L" \t\"") == std::wstring::npos) {
        ALine += AArg;
        return;
    }
    ALine += L'"';
    size_t slashes = 0;
    for (wchar_t c : AArg) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        ALine.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        ALine += c;
    }
    ALine.append(slashes * 2, L'\\');
    ALine += L'"';
}

bool ParseOptions(int AArgc, wchar_t** AArgv, TOptions& AOptions)
{
    int i = 1;
    auto number = [&](DWORD& AValue) {
        if (i + 1 >= AArgc) return false;
        wchar_t* end = nullptr;
        unsigned long v = std::wcstoul(AArgv[i + 1], &end, 10);
        if (!end || *end || v == 0) return false;
        AValue = static_cast<DWORD>(v);
        i += 2;
        return true;
    };
    while (i < AArgc) {
        std::wstring a = AArgv[i];
        if (a == L"--") {
            ++i;
            break;
        }
        if (a.rfind(L"--", 0) != 0) break;
        if (a == L"--timeout-ms") {
            if (!number(AOptions.TimeoutMs)) return false;
        } else if (a == L"--settle-ms") {
            if (!number(AOptions.SettleMs)) return false;
        } else if (a == L"--close-ms") {
            if (!number(AOptions.CloseMs)) return false;
        } else if (a == L"--handshake" && i + 1 < AArgc) {
            AOptions.Handshake = AArgv[i + 1];
            i += 2;
        } else {
            return false;
        }
    }
    if (i >= AArgc) return false;
    for (; i < AArgc; ++i) AppendArgument(AOptions.CommandLine, AArgv[i]);
    return true;
}

// Output goes through WriteFile so a redirected stdout gets plain ASCII at once.
void Print(const char* AFormat, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, AFormat);
    int n = std::vsnprintf(buffer, sizeof(buffer), AFormat, args);
    va_end(args);
    if (n < 0) return;
    DWORD size = static_cast<DWORD>(n < static_cast<int>(sizeof(buffer)) ? n : sizeof(buffer) - 1);
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), buffer, size, &written, nullptr);
}

void Count(TTrayLog& ALog, const tools::TTrayRecord& ARecord)
{
    if (ARecord.Pid != ALog.Pid) return;
    ALog.Last = ARecord.Time;
    switch (ARecord.Message) {
    case NIM_ADD:
        if (ALog.Adds++ == 0) {
            ALog.FirstAdd = ARecord.Time;
            ALog.FirstAddResult = ARecord.Result;
        }
        break;
    case NIM_MODIFY: ++ALog.Modifies; break;
    case NIM_DELETE: ++ALog.Deletes; break;
    default: break;
    }
}

// Serves the recorder's window until ADone says stop, AProcess ends or ADeadline
// passes. Answers true when ADone was met.
template <typename TDone>
bool Pump(HANDLE AProcess, int64_t ADeadline, TDone ADone)
{
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        if (ADone()) return true;
        int64_t now = Now();
        if (now >= ADeadline) return false;
        DWORD wait = static_cast<DWORD>(Millis(ADeadline - now)) + 1;
        // Short slices also let ADone poll for things that signal nothing.
        if (wait > 10) wait = 10;
        DWORD r = MsgWaitForMultipleObjects(AProcess ? 1 : 0, &AProcess, FALSE, wait, QS_ALLINPUT);
        if (AProcess && r == WAIT_OBJECT_0) {
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            return ADone();
        }
    }
}

bool Exited(HANDLE AProcess) noexcept
{
    return WaitForSingleObject(AProcess, 0) == WAIT_OBJECT_0;
}

DWORD ExitCode(HANDLE AProcess) noexcept
{
    DWORD code = 0;
    GetExitCodeProcess(AProcess, &code);
    return code;
}

// Ends the program: a quit to its main thread lets it remove its icon and
// release its single-instance guard; one that does not go in time is killed.
const char* Stop(HANDLE AProcess, DWORD AThreadId, DWORD ACloseMs)
{
    if (Exited(AProcess)) return "gone";
    PostThreadMessageW(AThreadId, WM_QUIT, 0, 0);
    if (Pump(AProcess, Now() + Ticks(ACloseMs), [&] { return Exited(AProcess); })) return "clean";
    TerminateProcess(AProcess, 1);
    WaitForSingleObject(AProcess, ACloseMs);
    return "killed";
}

bool MakeFile(const std::wstring& APath)
{
    fw::TFileHandle file(CreateFileW(APath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    return static_cast<bool>(file);
}

bool FileExists(const std::wstring& APath) noexcept
{
    return GetFileAttributesW(APath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

int HoldDesktop(const std::wstring& ABase)
{
    const int64_t deadline = Now() + Ticks(3600 * 1000);
    // Any hidden top-level window makes this process a user of the desktop.
    fw::TWindowHandle window(
        CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
    if (!window) {
        Print("traywatch error=create-window gle=%lu\n", GetLastError());
        return 1;
    }
    // The shell's taskbar window is where it keeps the notification area.
    if (!Pump(nullptr, Now() + Ticks(30000), [] { return FindWindowW(KShellTrayClass, nullptr) != nullptr; })) {
        Print("traywatch error=no-explorer-tray\n");
        return 1;
    }
    if (!MakeFile(ABase + L".ready")) {
        Print("traywatch error=ready-file gle=%lu\n", GetLastError());
        return 1;
    }
    const std::wstring go = ABase + L".go";
    Pump(nullptr, deadline, [&] { return FileExists(go); });
    return 0;
}

} // namespace

int wmain(int AArgc, wchar_t** AArgv)
{
    if (AArgc == 3 && std::wstring(AArgv[1]) == L"--hold-desktop") return HoldDesktop(AArgv[2]);
    TOptions options;
    if (!ParseOptions(AArgc, AArgv, options)) {
        Print("usage: tw_traywatch [--timeout-ms N] [--settle-ms N] [--close-ms N] [--handshake BASE] [--] "
              "PROGRAM [ARGS...]\n       tw_traywatch --hold-desktop BASE\n");
        return 2;
    }
    const int64_t deadline = Now() + Ticks(options.TimeoutMs);

    TTrayLog traffic;
    tools::TTrayRecorder recorder;
    recorder.OnRecord = [&](const tools::TTrayRecord& ARecord) { Count(traffic, ARecord); };
    std::wstring error;
    if (!recorder.Start(error)) {
        Print("traywatch error=recorder what=\"%ls\"\n", error.c_str());
        return 1;
    }

    STARTUPINFOW si{};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi{};
    std::wstring commandLine = options.CommandLine;
    // The program alone gets the recorder's window: it inherits the variable.
    SetEnvironmentVariableW(tools::KRecorderWindowVariable, recorder.WindowText().c_str());
    const int64_t start = Now();
    const BOOL created = CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                                        &pi);
    SetEnvironmentVariableW(tools::KRecorderWindowVariable, nullptr);
    if (!created) {
        Print("traywatch error=create-process gle=%lu\n", GetLastError());
        return 1;
    }
    fw::TKernelHandle process(pi.hProcess), thread(pi.hThread);
    traffic.Pid = pi.dwProcessId;

    auto fail = [&](const char* AWhat) {
        const char* how = Stop(process.Get(), pi.dwThreadId, options.CloseMs);
        Print("traywatch error=%s pid=%lu adds=%d exit=%s code=%lu\n", AWhat, pi.dwProcessId, traffic.Adds, how,
              ExitCode(process.Get()));
        return 1;
    };

    if (!Pump(process.Get(), deadline, [&] { return traffic.Adds > 0; }))
        return fail(Exited(process.Get()) ? "exited-before-icon" : "no-icon-in-time");

    // Input idle: the program has reached its message loop with nothing queued.
    // Short blocking waits keep the moment exact; between them the recorder's
    // window is served, so a program reporting to it is never held up for long.
    int64_t idle = 0;
    while (!idle) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        if (Exited(process.Get())) return fail("exited-before-idle");
        if (Now() >= deadline) return fail("not-idle-in-time");
        DWORD r = WaitForInputIdle(process.Get(), 10);
        if (r == 0)
            idle = Now();
        else if (r == WAIT_FAILED)
            return fail("wait-input-idle");
    }

    // Settled: a quiet spell with no further tray traffic from it.
    const int64_t settle = Ticks(options.SettleMs);
    if (!Pump(process.Get(), deadline, [&] { return Now() - (traffic.Last > idle ? traffic.Last : idle) >= settle; }))
        return fail(Exited(process.Get()) ? "exited-before-settled" : "not-settled-in-time");
    const int64_t settled = Now();

    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof(memory);
    if (!GetProcessMemoryInfo(process.Get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory)))
        return fail("memory-info");

    // The caller may look at the program from outside before it goes.
    bool released = true;
    if (!options.Handshake.empty()) {
        const std::wstring go = options.Handshake + L".go";
        if (!MakeFile(options.Handshake + L".ready")) return fail("handshake-file");
        released = Pump(process.Get(), deadline, [&] { return FileExists(go); });
    }
    const bool exitedWhileHeld = Exited(process.Get());
    const int adds = traffic.Adds, modifies = traffic.Modifies;
    const char* how = Stop(process.Get(), pi.dwThreadId, options.CloseMs);

    const char* status = !released ? (exitedWhileHeld ? "error=exited-while-held" : "error=handshake-timeout") : "ok";
    Print("traywatch %s pid=%lu tray_ms=%.3f idle_ms=%.3f settled_ms=%.3f added=%d adds=%d modifies=%d "
          "deletes=%d ws=%llu peak_ws=%llu private=%llu pagefile=%llu exit=%s code=%lu\n",
          status, pi.dwProcessId, Millis(traffic.FirstAdd - start), Millis(idle - start), Millis(settled - start),
          traffic.FirstAddResult ? 1 : 0, adds, modifies, traffic.Deletes,
          static_cast<unsigned long long>(memory.WorkingSetSize),
          static_cast<unsigned long long>(memory.PeakWorkingSetSize),
          static_cast<unsigned long long>(memory.PrivateUsage), static_cast<unsigned long long>(memory.PagefileUsage),
          how, ExitCode(process.Get()));
    return status[0] == 'o' ? 0 : 1;
}
