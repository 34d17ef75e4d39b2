// twmenuhook.dll: loaded into another process by twdriver through
// SetWindowsHookExW(WH_CALLWNDPROC) on the thread that owns a window, so it
// can read what only that process can read: a popup menu's items (menus are
// not readable across processes) and a balloon tooltip's title and icon.
//
// twdriver sends the registered message "twdriver.inspect" to the window with
// its own reply window in wParam; the hook answers with one WM_COPYDATA (dwData
// KReplyTag) holding UTF-16 lines separated by '\n', then lets the message go
// on to the window, which ignores it. Sent to the shell's tray window, it arms
// a recorder of balloon titles in the shell's thread (see below). Sent to the
// program's tray icon window, it reads the process's resource counts, or, with
// a DPI in lParam, first delivers WM_DPICHANGED for that DPI (see further down).
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "framework/Handles.h"
#include "tools/common/Protocol.h"
#include "tools/common/WindowQueries.h"

namespace {

using namespace tools;

// Tabs and line breaks separate fields and lines in the reply: escape them.
std::wstring Field(std::wstring_view AText)
{
    std::wstring out;
    for (wchar_t c : AText) {
        switch (c) {
        case L'\\': out += L"\\\\"; break;
        case L'\t': out += L"\\t"; break;
        case L'\r': out += L"\\r"; break;
        case L'\n': out += L"\\n"; break;
        default: out += c;
        }
    }
    return out;
}

std::wstring WindowText(HWND AWnd)
{
    int length = GetWindowTextLengthW(AWnd);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(AWnd, text.data(), length + 1)));
    return text;
}

// The item's text as the application stored it (MIIM_STRING), which the
// system keeps apart from its owner-draw flag.
std::wstring ItemString(HMENU AMenu, UINT APosition)
{
    MENUITEMINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = MIIM_STRING;
    if (!GetMenuItemInfoW(AMenu, APosition, TRUE, &info)) return L"<error " + std::to_wstring(GetLastError()) + L">";
    std::wstring text(info.cch + 1, L'\0');
    info.dwTypeData = text.data();
    info.cch = static_cast<UINT>(text.size());
    if (!GetMenuItemInfoW(AMenu, APosition, TRUE, &info)) return L"<error " + std::to_wstring(GetLastError()) + L">";
    text.resize(info.cch);
    return text;
}

// What GetMenuStringW answers, which the system may leave empty for owner-drawn items.
std::wstring MenuString(HMENU AMenu, UINT APosition)
{
    wchar_t text[512] = {};
    GetMenuStringW(AMenu, APosition, text, 512, MF_BYPOSITION);
    return text;
}

std::wstring Flags(std::initializer_list<std::pair<bool, const wchar_t*>> AFlags)
{
    std::wstring out;
    for (const auto& [on, name] : AFlags) {
        if (!on) continue;
        if (!out.empty()) out += L',';
        out += name;
    }
    return out.empty() ? L"-" : out;
}

// One line per item: position, type, state, MIIM_STRING text, GetMenuStringW text.
std::wstring DescribeMenu(HWND AMenuWindow)
{
    auto menu = reinterpret_cast<HMENU>(SendMessageW(AMenuWindow, MN_GETHMENU, 0, 0));
    if (!menu) return KInspectError + std::wstring(L"MN_GETHMENU gave no menu\n");
    int count = GetMenuItemCount(menu);
    if (count < 0)
        return KInspectError + std::wstring(L"GetMenuItemCount failed, error ") + std::to_wstring(GetLastError()) +
               L"\n";
    std::wstring out;
    for (int i = 0; i < count; ++i) {
        auto position = static_cast<UINT>(i);
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_STATE;
        if (!GetMenuItemInfoW(menu, position, TRUE, &info)) {
            out += KInspectError + std::wstring(L"GetMenuItemInfoW failed, error ") + std::to_wstring(GetLastError()) +
                   L"\n";
            continue;
        }
        bool separator = (info.fType & MFT_SEPARATOR) != 0;
        out += std::to_wstring(i) + L'\t';
        out += Flags(
            {{separator, L"separator"}, {!separator, L"string"}, {(info.fType & MFT_OWNERDRAW) != 0, L"ownerdraw"}});
        out += L'\t';
        out += Flags({{(info.fState & MFS_CHECKED) != 0, L"checked"},
                      {(info.fState & MFS_DISABLED) != 0, L"disabled"},
                      {(info.fState & MFS_DEFAULT) != 0, L"default"}});
        out += L'\t' + Field(ItemString(menu, position)) + L'\t' + Field(MenuString(menu, position)) + L'\n';
    }
    return out;
}

// ---- balloon titles ----
//
// A tooltip does not tell its title icon back (TTM_GETTITLE fills the text at
// most), so the shell's own TTM_SETTITLEW calls are recorded as they happen:
// a hook of this thread, made once the recorder is armed, keeps the last ones.

struct TTitle {
    HWND Tooltip = nullptr;
    WPARAM Icon = 0;
    std::wstring Text;
};

constexpr size_t KTitleSlots = 16;
TTitle GTitles[KTitleSlots];
size_t GNextTitle = 0;
HHOOK GRecorder = nullptr;

LRESULT CALLBACK RecordHook(int ACode, WPARAM AWParam, LPARAM ALParam)
{
    if (ACode == HC_ACTION) {
        const auto* call = reinterpret_cast<const CWPSTRUCT*>(ALParam);
        if (call->message == TTM_SETTITLEW) {
            TTitle& slot = GTitles[GNextTitle++ % KTitleSlots];
            slot.Tooltip = call->hwnd;
            slot.Icon = call->wParam;
            slot.Text = call->lParam ? reinterpret_cast<const wchar_t*>(call->lParam) : L"";
        }
    }
    return CallNextHookEx(nullptr, ACode, AWParam, ALParam);
}

std::wstring ArmRecorder()
{
    if (GRecorder) return L"armed\n";
    // Stays loaded when twdriver's hook goes: the recorder lives on in this thread.
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&RecordHook), &self);
    GRecorder = SetWindowsHookExW(WH_CALLWNDPROC, RecordHook, self, GetCurrentThreadId());
    if (!GRecorder)
        return KInspectError + std::wstring(L"SetWindowsHookExW failed, error ") + std::to_wstring(GetLastError()) +
               L"\n";
    return L"armed\n";
}

// The icon as the shell passed it to TTM_SETTITLEW (0 none, 1 info, 2 warning,
// 3 error, else an icon handle) or "?" when the recorder did not see it.
std::wstring DescribeTooltip(HWND ATooltip)
{
    std::wstring icon = L"?", title;
    for (size_t i = 0; i < KTitleSlots; ++i) {
        const TTitle& slot = GTitles[(GNextTitle + KTitleSlots - 1 - i) % KTitleSlots];
        if (slot.Tooltip != ATooltip) continue;
        icon = std::to_wstring(slot.Icon);
        title = slot.Text;
        break;
    }
    if (icon == L"?") {
        wchar_t text[256] = {};
        TTGETTITLE get{};
        get.dwSize = sizeof(get);
        get.cch = 256;
        get.pszTitle = text;
        SendMessageW(ATooltip, TTM_GETTITLE, 0, reinterpret_cast<LPARAM>(&get));
        title = text;
    }
    return L"tooltip\t" + icon + L'\t' + Field(title) + L'\t' + Field(WindowText(ATooltip)) + L'\n';
}

// ---- the program's resources ----
//
// Read in the program's own process: Wine answers a handle count and GUI
// resources of another process with 0, and keeps GDI objects per process.

// Loaded once for good, so the figures of one reading and the next carry the
// same cost of this DLL.
void StayLoaded()
{
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&StayLoaded), &self);
}

// "n/a" where the system does not report the count (Wine's GetGuiResources is a stub).
std::wstring GuiResources(DWORD AFlags)
{
    SetLastError(ERROR_SUCCESS);
    DWORD count = GetGuiResources(GetCurrentProcess(), AFlags);
    if (count == 0 && GetLastError() != ERROR_SUCCESS) return L"n/a";
    return std::to_wstring(count);
}

// The GDI handle table that the PEB points to (GdiSharedHandleTable): one
// 24-byte entry per handle, its object type in byte 14 (0 for a free entry),
// the stock flag in the top bit of byte 12, in the layout Windows gave it and
// Wine 8 and 10 keep. Wine keeps one table per process, so the live entries are
// the process's GDI objects; read only to stand in for GetGuiResources where
// that is a stub.
constexpr size_t KPebGdiTable = 0xF8;
constexpr size_t KGdiEntrySize = 24, KGdiEntries = 0x10000;

std::wstring WineGdiObjects()
{
    using TQueryProcess = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<TQueryProcess>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    PROCESS_BASIC_INFORMATION basic{};
    if (!query || query(GetCurrentProcess(), ProcessBasicInformation, &basic, sizeof(basic), nullptr) != 0)
        return L"n/a";
    auto* peb = reinterpret_cast<const BYTE*>(basic.PebBaseAddress);
    const BYTE* table = *reinterpret_cast<const BYTE* const*>(peb + KPebGdiTable);
    if (!table) return L"n/a";
    size_t count = 0;
    for (size_t i = 0; i < KGdiEntries; ++i) {
        const BYTE* entry = table + i * KGdiEntrySize;
        if (entry[14] != 0 && (entry[12] & 0x80) == 0) ++count;
    }
    return std::to_wstring(count);
}

BOOL CALLBACK CountWindow(HWND AWnd, LPARAM AParam)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(AWnd, &pid);
    if (pid == GetCurrentProcessId()) ++*reinterpret_cast<size_t*>(AParam);
    return TRUE;
}

// The process's windows: top-level ones with their children, and message-only ones.
size_t WindowCount()
{
    std::vector<HWND> tops = tools::TopLevelWindows();
    for (HWND wnd = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); wnd;
         wnd = FindWindowExW(HWND_MESSAGE, wnd, nullptr, nullptr))
        tops.push_back(wnd);
    size_t count = 0;
    for (HWND top : tops) {
        DWORD pid = 0;
        GetWindowThreadProcessId(top, &pid);
        if (pid != GetCurrentProcessId()) continue;
        ++count;
        EnumChildWindows(top, CountWindow, reinterpret_cast<LPARAM>(&count));
    }
    return count;
}

size_t ThreadCount()
{
    fw::TFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return 0;
    size_t count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    return count;
}

// One line of key=value fields. The snapshot above is closed before the
// handle count is taken, so the reading does not count itself.
std::wstring DescribeResources()
{
    StayLoaded();
    std::wstring threads = std::to_wstring(ThreadCount());
    DWORD handles = 0;
    std::wstring handleText = GetProcessHandleCount(GetCurrentProcess(), &handles) ? std::to_wstring(handles) : L"n/a";
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof(memory);
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof(memory));
    return L"resources\thandles=" + handleText + L"\tgdi=" + GuiResources(GR_GDIOBJECTS) + L"\tuser=" +
           GuiResources(GR_USEROBJECTS) + L"\tgdi_table=" + WineGdiObjects() + L"\twindows=" +
           std::to_wstring(WindowCount()) + L"\tthreads=" + threads + L"\tprivate=" +
           std::to_wstring(memory.PrivateUsage) + L"\tpagefile=" + std::to_wstring(memory.PagefileUsage) +
           L"\tworking_set=" + std::to_wstring(memory.WorkingSetSize) + L"\n";
}

// What the system sends a window whose monitor changes its scale: the new DPI
// in both halves of wParam and the suggested window rectangle in lParam.
std::wstring DeliverDpiChange(HWND AWnd, UINT ADpi)
{
    StayLoaded();
    RECT suggested{};
    GetWindowRect(AWnd, &suggested);
    SendMessageW(AWnd, WM_DPICHANGED, MAKEWPARAM(ADpi, ADpi), reinterpret_cast<LPARAM>(&suggested));
    return L"dpi\t" + std::to_wstring(ADpi) + L"\n";
}

void Answer(HWND AReply, HWND ATarget, const std::wstring& AText)
{
    COPYDATASTRUCT data{};
    data.dwData = KReplyTag;
    data.cbData = static_cast<DWORD>(AText.size() * sizeof(wchar_t));
    data.lpData = const_cast<wchar_t*>(AText.data());
    DWORD_PTR result = 0;
    SendMessageTimeoutW(AReply, WM_COPYDATA, reinterpret_cast<WPARAM>(ATarget), reinterpret_cast<LPARAM>(&data),
                        SMTO_NORMAL, KReplyTimeoutMs, &result);
}

} // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK TwInspectHook(int ACode, WPARAM AWParam, LPARAM ALParam)
{
    static const UINT inspect = RegisterWindowMessageW(KInspectMessage);
    if (ACode == HC_ACTION && inspect != 0) {
        const auto* call = reinterpret_cast<const CWPSTRUCT*>(ALParam);
        if (call->message == inspect) {
            std::wstring cls = ClassOf(call->hwnd);
            std::wstring text;
            if (cls == KMenuClass)
                text = DescribeMenu(call->hwnd);
            else if (CompareStringOrdinal(cls.c_str(), -1, TOOLTIPS_CLASSW, -1, TRUE) == CSTR_EQUAL)
                text = DescribeTooltip(call->hwnd);
            else if (cls == KShellTrayClass)
                text = ArmRecorder();
            else if (cls == KTrayIconClass)
                text = call->lParam ? DeliverDpiChange(call->hwnd, static_cast<UINT>(call->lParam))
                                    : DescribeResources();
            else
                text = KInspectError + std::wstring(L"nothing to read in a window of class ") + Field(cls) + L"\n";
            Answer(reinterpret_cast<HWND>(call->wParam), call->hwnd, text);
        }
    }
    return CallNextHookEx(nullptr, ACode, AWParam, ALParam);
}

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
