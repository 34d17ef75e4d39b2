// twdriver: finds and drives Tarnwick's windows from another process in the
// same Wine desktop, for the end-to-end tests and the demo.
//
// Results go to stdout as UTF-8, one per line; failures and time-outs go to
// stderr and end with exit code 1 (2 for a usage error). Every wait takes a
// deadline in milliseconds and polls; nothing here sleeps for a fixed time.
#include <windows.h>

#include "framework/Handles.h"
#include "tools/common/CommandLine.h"
#include "tools/common/InspectClient.h"
#include "tools/common/Owners.h"
#include "tools/common/Protocol.h"
#include "tools/common/WindowQueries.h"

#include <climits>
#include <cwchar>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace tools;

constexpr wchar_t KDialogClass[] = L"#32770";
constexpr int KMessageTextId = 0xFFFF;
// For the commands whose deadline may be left out.
constexpr DWORD KDefaultWaitMs = 10000;
// SMTO_ABORTIFHUNG gives up on a hung window at once; the time-out is for a live one that
// a busy machine keeps waiting, whose text would otherwise read as empty.
constexpr UINT KSendTimeoutMs = 10000;

constexpr wchar_t KTooltipClass[] = L"tooltips_class32";
constexpr LONG KBalloonStyle = 0x40; // TTS_BALLOON
// Set by "release" to end a "hold" before its deadline.
constexpr wchar_t KHoldReleaseEvent[] = L"Local\\twdriver.hold.release";

// One text per line: line breaks inside a text would split it, so they are
// escaped, and so is the escape character itself.
std::wstring OneLine(std::wstring_view AText)
{
    std::wstring out;
    for (size_t i = 0; i < AText.size(); ++i) {
        wchar_t c = AText[i];
        if (c == L'\\') {
            out += L"\\\\";
        } else if (c == L'\r') {
            if (i + 1 < AText.size() && AText[i + 1] == L'\n') ++i;
            out += L"\\n";
        } else if (c == L'\n') {
            out += L"\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::wstring HandleText(HWND AWnd)
{
    wchar_t buffer[32];
    swprintf(buffer, std::size(buffer), L"0x%llX", static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(AWnd)));
    return buffer;
}

DWORD ParseMs(const std::wstring& AText)
{
    wchar_t* end = nullptr;
    unsigned long value = wcstoul(AText.c_str(), &end, 10);
    if (AText.empty() || *end != L'\0' || AText[0] == L'-') Fail(L"not a time in ms: " + AText, KExitUsage);
    return static_cast<DWORD>(value);
}

// The window's text as its own process answers WM_GETTEXT; a hung owner gives "".
std::wstring WindowText(HWND AWnd)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(AWnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, KSendTimeoutMs, &length)) return {};
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(AWnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                             KSendTimeoutMs, &copied))
        return {};
    text.resize(wcsnlen(text.c_str(), text.size()));
    return text;
}

std::vector<HWND> WindowsOfClass(const std::wstring& AClass, bool AVisibleOnly)
{
    std::vector<HWND> found;
    for (HWND wnd : TopLevelWindows())
        if (SameClass(wnd, AClass) && (!AVisibleOnly || IsWindowVisible(wnd))) found.push_back(wnd);
    return found;
}

HWND WaitWindow(const std::wstring& AClass, bool AVisibleOnly, DWORD ATimeoutMs)
{
    std::optional<HWND> wnd = WaitFor(ATimeoutMs, [&]() -> std::optional<HWND> {
        std::vector<HWND> found = WindowsOfClass(AClass, AVisibleOnly);
        if (found.empty()) return std::nullopt;
        return found.front();
    });
    if (!wnd)
        Fail(L"time-out: no " + std::wstring(AVisibleOnly ? L"visible " : L"") + L"window of class \"" + AClass +
             L"\" after " + std::to_wstring(ATimeoutMs) + L" ms");
    return *wnd;
}

void WaitNoWindow(const std::wstring& AClass, bool AVisibleOnly, DWORD ATimeoutMs)
{
    std::optional<bool> gone = WaitFor(ATimeoutMs, [&]() -> std::optional<bool> {
        if (!WindowsOfClass(AClass, AVisibleOnly).empty()) return std::nullopt;
        return true;
    });
    if (!gone)
        Fail(L"time-out: a " + std::wstring(AVisibleOnly ? L"visible " : L"") + L"window of class \"" + AClass +
             L"\" is still there after " + std::to_wstring(ATimeoutMs) + L" ms");
}

std::wstring WithoutAccessMarks(std::wstring_view AText)
{
    std::wstring out;
    for (size_t i = 0; i < AText.size(); ++i) {
        if (AText[i] == L'&' && i + 1 < AText.size()) ++i;
        out += AText[i];
    }
    return out;
}

// ---- commands ----

void CmdWaitWindow(const TArgs& A)
{
    A.Need(2, 2);
    Print(HandleText(WaitWindow(A[0], false, ParseMs(A[1]))));
}

void CmdWaitNoWindow(const TArgs& A)
{
    A.Need(2, 2);
    WaitNoWindow(A[0], false, ParseMs(A[1]));
}

void CmdCount(const TArgs& A)
{
    A.Need(1, 2);
    bool visibleOnly = A.size() == 2 && A[1] == L"visible";
    if (A.size() == 2 && !visibleOnly) Fail(L"count: the second argument can only be \"visible\"", KExitUsage);
    Print(std::to_wstring(WindowsOfClass(A[0], visibleOnly).size()));
}

void CmdList(const TArgs& A)
{
    A.Need(0, 0);
    for (HWND wnd : TopLevelWindows()) {
        DWORD pid = 0;
        GetWindowThreadProcessId(wnd, &pid);
        RECT r{};
        GetWindowRect(wnd, &r);
        Print(HandleText(wnd) + L"\tpid " + std::to_wstring(pid) +
              (IsWindowVisible(wnd) ? L"\tvisible\t" : L"\thidden\t") + RectText(r) + L"\t" + ClassOf(wnd) + L"\t" +
              OneLine(WindowText(wnd)));
    }
}

// A check box's state as BM_GETCHECK answers it; "-" for other controls.
std::wstring CheckText(HWND AWnd)
{
    if (ControlName(AWnd) != L"Button:checkbox") return L"-";
    DWORD_PTR state = 0;
    if (!SendMessageTimeoutW(AWnd, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, KSendTimeoutMs, &state)) return L"?";
    return state == BST_CHECKED ? L"checked" : L"unchecked";
}

void CmdChildren(const TArgs& A)
{
    A.Need(1, 1);
    std::vector<HWND> windows = WindowsOfClass(A[0], true);
    if (windows.empty()) Fail(L"children: no visible window of class \"" + A[0] + L"\"");
    for (HWND child : ChildWindows(windows.front()))
        Print(HandleText(child) + L"\tid " + std::to_wstring(GetDlgCtrlID(child)) +
              (IsWindowVisible(child) ? L"\tvisible\t" : L"\thidden\t") + ClassOf(child) + L"\t" +
              OneLine(WindowText(child)) + L"\t" + ControlName(child) + L"\t" + CheckText(child));
}

void CmdForeground(const TArgs& A)
{
    A.Need(0, 0);
    HWND wnd = GetForegroundWindow();
    if (!wnd) Fail(L"foreground: no foreground window");
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    Print(HandleText(wnd) + L"\tpid " + std::to_wstring(pid) + L"\t" + ClassOf(wnd) + L"\t" + OneLine(WindowText(wnd)));
}

void CmdTray(const TArgs& A)
{
    A.Need(1, 2);
    UINT message = 0;
    if (A[0] == L"left")
        message = WM_LBUTTONUP;
    else if (A[0] == L"right")
        message = WM_RBUTTONUP;
    else if (A[0] == L"middle")
        message = WM_MBUTTONUP;
    else
        Fail(L"tray: the button is left, right or middle", KExitUsage);
    HWND tray = WaitWindow(KTrayIconClass, false, A.size() == 2 ? ParseMs(A[1]) : KDefaultWaitMs);
    if (!PostMessageW(tray, KTrayCallback, KTrayIconId, message))
        Fail(L"tray: PostMessage failed, error " + std::to_wstring(GetLastError()));
    Print(HandleText(tray));
}

void CmdWaitMenu(const TArgs& A)
{
    A.Need(1, 1);
    HWND menu = WaitWindow(KMenuClass, true, ParseMs(A[0]));
    RECT r{};
    GetWindowRect(menu, &r);
    Print(RectText(r));
}

void CmdWaitNoMenu(const TArgs& A)
{
    A.Need(1, 1);
    WaitNoWindow(KMenuClass, true, ParseMs(A[0]));
}

struct TKeyName {
    const wchar_t* Name;
    WORD Key;
};

constexpr TKeyName KKeys[] = {
    {L"Escape", VK_ESCAPE}, {L"Return", VK_RETURN}, {L"Up", VK_UP},     {L"Down", VK_DOWN},
    {L"Left", VK_LEFT},     {L"Right", VK_RIGHT},   {L"Home", VK_HOME}, {L"End", VK_END},
};

// The menu's modal loop runs in the program's thread and reads that thread's
// queue, so keys posted to the menu window reach it as if typed.
void CmdMenuKey(const TArgs& A)
{
    A.Need(1, 2);
    const TKeyName* named = nullptr;
    for (const TKeyName& key : KKeys)
        if (CompareStringOrdinal(A[0].c_str(), -1, key.Name, -1, TRUE) == CSTR_EQUAL) named = &key;
    if (!named && A[0].size() != 1)
        Fail(L"menu-key: a single character or one of Escape Return Up Down Left Right Home End", KExitUsage);
    DWORD timeout = A.size() == 2 ? ParseMs(A[1]) : KDefaultWaitMs;
    HWND menu = WaitWindow(KMenuClass, true, timeout);
    if (!named) {
        PostMessageW(menu, WM_CHAR, A[0][0], 1);
        return;
    }
    LPARAM scan = static_cast<LPARAM>(MapVirtualKeyW(named->Key, MAPVK_VK_TO_VSC)) << 16;
    PostMessageW(menu, WM_KEYDOWN, named->Key, 1 | scan);
    PostMessageW(menu, WM_KEYUP, named->Key, 1 | scan | (LPARAM{3} << 30));
}

void CmdBoxes(const TArgs& A)
{
    A.Need(1, 2);
    HWND dialog = WaitWindow(A.size() == 2 ? A[1] : KDialogClass, true, ParseMs(A[0]));
    Print(OneLine(WindowText(dialog)));
    std::vector<HWND> children = ChildWindows(dialog);
    // The message text first: callers look for it without knowing the layout.
    for (HWND child : children)
        if (GetDlgCtrlID(child) == KMessageTextId) Print(OneLine(WindowText(child)));
    for (HWND child : children) {
        if (GetDlgCtrlID(child) == KMessageTextId) continue;
        std::wstring text = WindowText(child);
        if (!text.empty()) Print(OneLine(text));
    }
}

void CmdWaitNoBox(const TArgs& A)
{
    A.Need(1, 2);
    WaitNoWindow(A.size() == 2 ? A[1] : KDialogClass, true, ParseMs(A[0]));
}

// A button or check box answers BM_CLICK; a label with the same text never does.
bool LooksLikeButton(HWND AWnd)
{
    return SameClass(AWnd, L"Button");
}

void CmdClick(const TArgs& A)
{
    A.Need(2, 3);
    std::wstring wanted = WithoutAccessMarks(A[0]);
    std::wstring dialogClass = A.size() == 3 ? A[2] : KDialogClass;
    std::optional<HWND> button = WaitFor(ParseMs(A[1]), [&]() -> std::optional<HWND> {
        for (HWND dialog : WindowsOfClass(dialogClass, true))
            for (HWND child : ChildWindows(dialog))
                if (LooksLikeButton(child) && IsWindowVisible(child) && WithoutAccessMarks(WindowText(child)) == wanted)
                    return child;
        return std::nullopt;
    });
    if (!button) Fail(L"click: no visible window of class \"" + dialogClass + L"\" with a button \"" + A[0] + L"\"");
    // Posted, not sent: the click may open another modal loop that would hold a send.
    if (!PostMessageW(*button, BM_CLICK, 0, 0))
        Fail(L"click: PostMessage failed, error " + std::to_wstring(GetLastError()));
}

// ---- reading inside the program: the hook DLL ----

// Hooks the thread that owns ATarget, asks the hook for what it reads there and
// returns its answer, one item per line. The hook stays loaded in that process.
std::wstring Inspect(HWND ATarget)
{
    THookClient client;
    TInspectAnswer answer = client.Open(L"twdriver.reply");
    if (answer.Fault == TInspectFault::None) answer = client.Ask(ATarget, 0, KInspectTimeoutMs);
    std::wstring error = std::to_wstring(answer.Error);
    switch (answer.Fault) {
    case TInspectFault::None: break;
    case TInspectFault::LoadHook: Fail(std::wstring(L"inspect: cannot load ") + KHookDll + L", error " + error);
    case TInspectFault::NoHookProc: Fail(L"inspect: the hook DLL has no TwInspectHook");
    case TInspectFault::ReplyWindow: Fail(L"inspect: CreateWindowExW failed, error " + error);
    case TInspectFault::SetHook: Fail(L"inspect: SetWindowsHookExW failed, error " + error);
    case TInspectFault::NotTaken: Fail(L"inspect: the window did not take the message, error " + error);
    case TInspectFault::NoAnswer: Fail(L"inspect: the hook gave no answer (not loaded into the window's process?)");
    case TInspectFault::HookError: Fail(L"inspect: " + answer.Text);
    }
    return answer.Text;
}

void CmdMenuItems(const TArgs& A)
{
    A.Need(1, 1);
    std::wstring items = Inspect(WaitWindow(KMenuClass, true, ParseMs(A[0])));
    if (!items.empty() && items.back() == L'\n') items.pop_back();
    if (!items.empty()) Print(items);
}

bool IsBalloon(HWND AWnd)
{
    return SameClass(AWnd, KTooltipClass) && IsWindowVisible(AWnd) &&
           (GetWindowLongW(AWnd, GWL_STYLE) & KBalloonStyle) != 0 && !WindowText(AWnd).empty();
}

void CmdBalloon(const TArgs& A)
{
    A.Need(1, 2);
    std::optional<HWND> balloon = WaitFor(ParseMs(A[0]), [&]() -> std::optional<HWND> {
        for (HWND wnd : TopLevelWindows())
            if (IsBalloon(wnd) && (A.size() == 1 || WindowText(wnd) == A[1])) return wnd;
        return std::nullopt;
    });
    if (!balloon) Fail(L"balloon: none shown" + (A.size() == 2 ? L" with the text \"" + A[1] + L"\"" : std::wstring()));
    std::wstring line = Inspect(*balloon);
    if (!line.empty() && line.back() == L'\n') line.pop_back();
    // "tooltip" TAB icon TAB title TAB text
    Print(line.substr(line.find(L'\t') + 1));
}

// Balloons are made by the shell's thread: their titles can only be seen as
// the shell sets them, by a recorder that must be in place before they show.
void CmdWatchBalloons(const TArgs& A)
{
    A.Need(1, 1);
    Inspect(WaitWindow(L"Shell_TrayWnd", false, ParseMs(A[0])));
}

void CmdNoBalloon(const TArgs& A)
{
    A.Need(1, 1);
    ULONGLONG deadline = GetTickCount64() + ParseMs(A[0]);
    do {
        for (HWND wnd : TopLevelWindows())
            if (IsBalloon(wnd)) Fail(L"no-balloon: a balloon shows \"" + OneLine(WindowText(wnd)) + L"\"");
        Sleep(KPollMs);
    } while (GetTickCount64() < deadline);
}

// ---- the end of a session ----

// What Restart Manager does to close a program (an installer or an update that
// replaces its files), or what a log-off or shutdown does: WM_QUERYENDSESSION to
// each top-level window of the process that owns the tray icon, then
// WM_ENDSESSION to each. Prints each window's class and its two answers.
void CmdEndSession(const TArgs& A)
{
    A.Need(1, 2);
    LPARAM flags = 0;
    if (A[0] == L"closeapp")
        flags = ENDSESSION_CLOSEAPP;
    else if (A[0] == L"logoff")
        flags = ENDSESSION_LOGOFF;
    else if (A[0] != L"shutdown")
        Fail(L"end-session: closeapp, logoff or shutdown", KExitUsage);
    HWND tray = WaitWindow(KTrayIconClass, false, A.size() == 2 ? ParseMs(A[1]) : KDefaultWaitMs);
    DWORD pid = 0;
    GetWindowThreadProcessId(tray, &pid);
    std::vector<HWND> windows;
    for (HWND wnd : TopLevelWindows()) {
        DWORD owner = 0;
        GetWindowThreadProcessId(wnd, &owner);
        if (owner == pid) windows.push_back(wnd);
    }
    std::vector<std::wstring> lines;
    for (HWND wnd : windows) {
        DWORD_PTR answer = 0;
        bool taken = SendMessageTimeoutW(wnd, WM_QUERYENDSESSION, 0, flags, SMTO_ABORTIFHUNG, KSendTimeoutMs, &answer);
        lines.push_back(ClassOf(wnd) + L"\tquery=" + (taken ? std::to_wstring(answer) : L"-"));
    }
    for (size_t i = 0; i < windows.size(); ++i) {
        DWORD_PTR answer = 0;
        bool taken = SendMessageTimeoutW(windows[i], WM_ENDSESSION, TRUE, flags, SMTO_ABORTIFHUNG, KSendTimeoutMs,
                                         &answer);
        Print(lines[i] + L"\tend=" + (taken ? std::to_wstring(answer) : L"-"));
    }
}

// ---- files ----

void CmdHold(const TArgs& A)
{
    A.Need(2, 2);
    DWORD maxMs = ParseMs(A[1]);
    fw::TKernelHandle release(CreateEventW(nullptr, TRUE, FALSE, KHoldReleaseEvent));
    if (!release) Fail(L"hold: CreateEventW failed, error " + std::to_wstring(GetLastError()));
    ResetEvent(release.Get());
    // Like an editor that keeps the file open for writing and lets others read and write too.
    fw::TFileHandle file(CreateFileW(A[0].c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) Fail(L"hold: cannot open " + A[0] + L", error " + std::to_wstring(GetLastError()));
    Print(L"held");
    DWORD waited = WaitForSingleObject(release.Get(), maxMs);
    // Closed before the answer: a caller goes on once it reads it.
    file.Reset();
    release.Reset();
    Print(waited == WAIT_OBJECT_0 ? L"released" : L"deadline");
}

void CmdRelease(const TArgs& A)
{
    A.Need(0, 0);
    fw::TKernelHandle release(OpenEventW(EVENT_MODIFY_STATE, FALSE, KHoldReleaseEvent));
    if (!release) Fail(L"release: no hold is running");
    SetEvent(release.Get());
}

// A number in C notation (0x2E0, 144, -8) that fits an int.
int ParseInt(const std::wstring& AText)
{
    wchar_t* end = nullptr;
    long long value = wcstoll(AText.c_str(), &end, 0);
    if (AText.empty() || *end != L'\0' || value < INT_MIN || value > INT_MAX)
        Fail(L"not a number: " + AText, KExitUsage);
    return static_cast<int>(value);
}

// Memory committed in another process (VirtualAllocEx), freed there when the
// scope ends unless let go.
class TRemoteMemory {
public:
    TRemoteMemory(HANDLE AProcess, SIZE_T ASize) noexcept
        : FProcess(AProcess),
          FAddress(VirtualAllocEx(AProcess, nullptr, ASize, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE))
    {
    }
    ~TRemoteMemory()
    {
        if (!FAddress) return;
        DWORD error = GetLastError();
        VirtualFreeEx(FProcess, FAddress, 0, MEM_RELEASE);
        SetLastError(error);
    }
    TRemoteMemory(const TRemoteMemory&) = delete;
    TRemoteMemory& operator=(const TRemoteMemory&) = delete;
    void* Get() const noexcept { return FAddress; }
    void LetGo() noexcept { FAddress = nullptr; }

private:
    HANDLE FProcess;
    void* FAddress;
};

// Sends a message whose lParam points to a rectangle (WM_DPICHANGED's
// suggested window rectangle). Messages of the system's range are passed to
// another process with lParam as a bare number unless the system knows their
// layout, which Wine does not for this one: the rectangle is written into the
// window's own process and lParam points there.
void CmdSendRect(const TArgs& A)
{
    A.Need(7, 8);
    HWND wnd = WaitWindow(A[0], true, A.size() == 8 ? ParseMs(A[7]) : KDefaultWaitMs);
    auto message = static_cast<UINT>(ParseInt(A[1]));
    auto wParam = static_cast<WPARAM>(static_cast<unsigned>(ParseInt(A[2])));
    RECT rect{ParseInt(A[3]), ParseInt(A[4]), ParseInt(A[5]), ParseInt(A[6])};
    DWORD pid = 0;
    GetWindowThreadProcessId(wnd, &pid);
    fw::TKernelHandle process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_WRITE, FALSE, pid));
    if (!process) FailWithError(L"OpenProcess");
    TRemoteMemory remote(process.Get(), sizeof(rect));
    if (!remote.Get()) FailWithError(L"VirtualAllocEx");
    if (!WriteProcessMemory(process.Get(), remote.Get(), &rect, sizeof(rect), nullptr))
        FailWithError(L"WriteProcessMemory");
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(wnd, message, wParam, reinterpret_cast<LPARAM>(remote.Get()), SMTO_ABORTIFHUNG,
                             KSendTimeoutMs, &result)) {
        // The window may still read it once it gets to the message.
        remote.LetGo();
        FailWithError(L"SendMessageTimeoutW");
    }
    Print(std::to_wstring(static_cast<long long>(static_cast<LRESULT>(result))));
}

// The system's text for an error code, trimmed as programs commonly show it.
void CmdSysMsg(const TArgs& A)
{
    A.Need(1, 1);
    TLocalMemory buffer;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                             nullptr, static_cast<DWORD>(wcstoul(A[0].c_str(), nullptr, 0)), 0,
                             reinterpret_cast<wchar_t*>(buffer.Put()), 0, nullptr);
    std::wstring text(buffer ? static_cast<const wchar_t*>(buffer.Get()) : L"", n);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
    Print(text);
}

constexpr TCommand KCommands[] = {
    {L"wait-window", L"<class> <timeout_ms>", L"a top-level window of the class, shown or not; prints its HWND",
     CmdWaitWindow},
    {L"wait-no-window", L"<class> <timeout_ms>", L"no top-level window of the class is left", CmdWaitNoWindow},
    {L"count", L"<class> [visible]", L"prints how many top-level windows of the class there are", CmdCount},
    {L"list", L"", L"prints every top-level window: HWND, pid, shown or hidden, rectangle, class, title", CmdList},
    {L"children", L"<class>",
     L"prints the controls of a visible window of the class: HWND, id, shown or hidden, class, text, control name (Button:push, Button:checkbox), check state (checked, unchecked or -)",
     CmdChildren},
    {L"send-rect", L"<class> <message> <wparam> <left> <top> <right> <bottom> [timeout_ms]",
     L"sends a message (numbers in C notation) to a visible window of the class, lParam pointing to the rectangle, which is written into the window's process first; prints the result",
     CmdSendRect},
    {L"foreground", L"", L"prints the foreground window: HWND, pid, class, title", CmdForeground},
    {L"tray", L"<left|right|middle> [timeout_ms]",
     L"posts that button's release to the tray icon's window (waits 10 s by default)", CmdTray},
    {L"wait-menu", L"<timeout_ms>", L"a visible popup menu; prints its rectangle: left top right bottom", CmdWaitMenu},
    {L"wait-no-menu", L"<timeout_ms>", L"no visible popup menu is left", CmdWaitNoMenu},
    {L"menu-key", L"<key> [timeout_ms]",
     L"types into the open menu a character or Escape Return Up Down Left Right Home End (waits 10 s by default)",
     CmdMenuKey},
    {L"boxes", L"<timeout_ms> [class]",
     L"a visible dialog (or window of the class): prints its title, its message text (id 0xFFFF), then its other controls' texts",
     CmdBoxes},
    {L"wait-no-box", L"<timeout_ms> [class]", L"no visible dialog (or window of the class) is left", CmdWaitNoBox},
    {L"click", L"<button text> <timeout_ms> [class]",
     L"presses a button or check box of a visible dialog (or window of the class) by its text, access marks ignored",
     CmdClick},
    {L"menu-items", L"<timeout_ms>",
     L"the open popup menu's items, read inside its process by twmenuhook.dll: position, type, state, MIIM_STRING text, GetMenuStringW text (tab-separated)",
     CmdMenuItems},
    {L"balloon", L"<timeout_ms> [text]",
     L"a visible balloon tooltip (with that text): prints its icon (1 info, 2 warning, 3 error), title and text, read by twmenuhook.dll",
     CmdBalloon},
    {L"watch-balloons", L"<timeout_ms>",
     L"loads twmenuhook.dll into the shell's tray thread to record balloon titles and icons from now on",
     CmdWatchBalloons},
    {L"no-balloon", L"<ms>", L"fails as soon as a balloon tooltip shows within the time", CmdNoBalloon},
    {L"end-session", L"<closeapp|logoff|shutdown> [timeout_ms]",
     L"as Restart Manager (closeapp), a log-off or a shutdown: WM_QUERYENDSESSION, then WM_ENDSESSION, to each top-level window of the program; prints class and answers",
     CmdEndSession},
    {L"hold", L"<path> <max_ms>",
     L"keeps the file open for writing (others may read and write) until \"release\" or the time is up; prints \"held\" once open",
     CmdHold},
    {L"release", L"", L"ends a running \"hold\"", CmdRelease},
    {L"sysmsg", L"<code>", L"prints the system's message text for an error code, trailing blanks and line breaks cut",
     CmdSysMsg},
    {L"help", L"", L"this list", nullptr},
};

constexpr const wchar_t* KHelpHead[] = {
    L"usage: twdriver <command> [arguments]",
    L"Results go to stdout, one per line, line breaks inside a text as \\n; failures to stderr, exit code 1 (2: a wrong command line).",
};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    return RunTool({.Name = L"twdriver", .Commands = KCommands, .Head = KHelpHead, .Foot = {}}, argc, argv);
}
