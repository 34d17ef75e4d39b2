// twpatchres: makes altered copies of an executable for the end-to-end tests
// (a resource deleted or replaced), and reads the geometry of a visible window
// and its child windows, waits until they have painted, or sends it a message,
// from another process.
//
// Results go to stdout as UTF-8, one per line; failures go to stderr and end
// with exit code 1 (2 for a usage error). Arguments that start with '/' are
// Unix paths and are opened as Z:<path>, so scripts can pass their own paths.
#include <windows.h>

#include "framework/Handles.h"
#include "tools/common/CommandLine.h"
#include "tools/common/Owners.h"
#include "tools/common/WindowQueries.h"

#include <algorithm>
#include <climits>
#include <cwchar>
#include <cwctype>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace tools;

// Every resource of the program is compiled in US English.
constexpr WORD KLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
// SMTO_ABORTIFHUNG gives up on a hung window at once; this is for a live one that a busy
// machine keeps waiting.
constexpr UINT KSendTimeoutMs = 10000;

// A Unix path means the same file through Wine's Z: drive; Wine itself would
// take "/tmp/x" for a path on the current drive.
std::wstring WindowsPath(const std::wstring& APath)
{
    if (APath.empty() || APath[0] != L'/') return APath;
    std::wstring path = L"Z:" + APath;
    for (wchar_t& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

std::optional<unsigned long> ParseNumber(const std::wstring& AText)
{
    if (AText.empty() || AText[0] == L'-' || AText[0] == L'+' || std::iswspace(AText[0])) return std::nullopt;
    wchar_t* end = nullptr;
    unsigned long value = std::wcstoul(AText.c_str(), &end, 0);
    if (*end != L'\0') return std::nullopt;
    return value;
}

unsigned long NumberArg(const std::wstring& AText)
{
    std::optional<unsigned long> value = ParseNumber(AText);
    if (!value) Fail(L"not a number: " + AText, KExitUsage);
    return *value;
}

// ---- resources ----

// A resource type or name as the resource functions hand it out and take it:
// an integer id or a name.
struct TResKey {
    WORD Id = 0;
    std::wstring Name;

    static TResKey From(LPCWSTR AValue)
    {
        if (IS_INTRESOURCE(AValue)) return {static_cast<WORD>(reinterpret_cast<ULONG_PTR>(AValue)), {}};
        return {0, AValue};
    }
    // "16" or "#16" is the integer id 16, anything else a name.
    static TResKey Parse(const std::wstring& AText)
    {
        std::wstring digits = !AText.empty() && AText[0] == L'#' ? AText.substr(1) : AText;
        bool numeric = !digits.empty();
        for (wchar_t c : digits) numeric = numeric && c >= L'0' && c <= L'9';
        if (!numeric) return {0, AText};
        unsigned long id = std::wcstoul(digits.c_str(), nullptr, 10);
        if (id == 0 || id > 0xFFFF) Fail(L"a resource id is 1 to 65535: " + AText, KExitUsage);
        return {static_cast<WORD>(id), {}};
    }
    LPCWSTR Get() const noexcept { return Id ? MAKEINTRESOURCEW(Id) : Name.c_str(); }
    std::wstring Text() const { return Id ? std::to_wstring(Id) : Name; }
    // Names in a resource directory compare without case, as the loader does.
    bool operator==(const TResKey& AOther) const
    {
        return Id == AOther.Id &&
               (Id || CompareStringOrdinal(Name.c_str(), -1, AOther.Name.c_str(), -1, TRUE) == CSTR_EQUAL);
    }
};

struct TResource {
    TResKey Type, Name;
    WORD Language = 0;
    std::string Data;
};

// Every resource of an executable, in every language, in directory order.
std::vector<TResource> ReadResources(const std::wstring& APath)
{
    fw::TModuleHandle module(
        LoadLibraryExW(APath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module) FailWithError(L"loading " + APath + L" as data");
    std::vector<TResource> all;
    EnumResourceTypesW(
        module.Get(),
        [](HMODULE AModule, LPWSTR AType, LONG_PTR AList) -> BOOL {
            EnumResourceNamesW(
                AModule, AType,
                [](HMODULE AModule, LPCWSTR AType, LPWSTR AName, LONG_PTR AList) -> BOOL {
                    EnumResourceLanguagesW(
                        AModule, AType, AName,
                        [](HMODULE AModule, LPCWSTR AType, LPCWSTR AName, WORD ALanguage, LONG_PTR AList) -> BOOL {
                            TResource resource{TResKey::From(AType), TResKey::From(AName), ALanguage, {}};
                            HRSRC info = FindResourceExW(AModule, AType, AName, ALanguage);
                            HGLOBAL data = info ? LoadResource(AModule, info) : nullptr;
                            const void* bytes = data ? LockResource(data) : nullptr;
                            if (bytes)
                                resource.Data.assign(static_cast<const char*>(bytes), SizeofResource(AModule, info));
                            reinterpret_cast<std::vector<TResource>*>(AList)->push_back(std::move(resource));
                            return TRUE;
                        },
                        AList);
                    return TRUE;
                },
                AList);
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&all));
    return all;
}

bool SameResources(const std::vector<TResource>& A, const std::vector<TResource>& B)
{
    auto key = [](const TResource& r) {
        return r.Type.Text() + L"\t" + r.Name.Text() + L"\t" + std::to_wstring(r.Language);
    };
    auto sorted = [&](const std::vector<TResource>& AList) {
        std::vector<std::pair<std::wstring, const std::string*>> items;
        for (const TResource& r : AList) items.emplace_back(key(r), &r.Data);
        std::sort(items.begin(), items.end());
        return items;
    };
    auto a = sorted(A), b = sorted(B);
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const auto& x, const auto& y) { return x.first == y.first && *x.second == *y.second; });
}

std::string ReadFileBytes(const std::wstring& APath)
{
    fw::TFileHandle file(CreateFileW(APath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) FailWithError(L"opening " + APath);
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    BOOL ok = FALSE;
    while ((ok = ReadFile(file.Get(), buffer, sizeof buffer, &got, nullptr)) && got > 0) bytes.append(buffer, got);
    if (!ok) FailWithError(L"reading " + APath);
    return bytes;
}

// Inline data: UTF-8 of the text with \n, \r, \t and \\ unescaped, so a
// multi-line resource fits on one command line.
std::string Unescape(const std::wstring& AText)
{
    std::wstring text;
    for (size_t i = 0; i < AText.size(); ++i) {
        wchar_t c = AText[i];
        if (c == L'\\' && i + 1 < AText.size()) {
            switch (AText[++i]) {
            case L'n': c = L'\n'; break;
            case L'r': c = L'\r'; break;
            case L't': c = L'\t'; break;
            case L'\\': c = L'\\'; break;
            default: Fail(std::wstring(L"unknown escape \\") + AText[i], KExitUsage);
            }
        }
        text += c;
    }
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                   nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
    return bytes;
}

// Copies AIn to AOut with the resource (AType, AName, 1033) deleted (no
// AData) or replaced. Wine 8 takes a deletion through UpdateResourceW
// without effect, so the copy is given all its resources anew, less the
// deleted one; then it is read back and must hold exactly what was meant.
void Patch(const std::wstring& AIn, const std::wstring& AOut, const TResKey& AType, const TResKey& AName,
           const std::optional<std::string>& AData)
{
    std::wstring what = AType.Text() + L" " + AName.Text();
    std::vector<TResource> wanted = ReadResources(AIn);
    auto target = std::find_if(wanted.begin(), wanted.end(), [&](const TResource& r) {
        return r.Type == AType && r.Name == AName && r.Language == KLanguage;
    });
    // A misspelt name would otherwise add a resource beside the one meant.
    if (target == wanted.end()) Fail(AIn + L" has no resource " + what + L" in language 1033");
    if (AData)
        target->Data = *AData;
    else
        wanted.erase(target);

    if (!CopyFileW(AIn.c_str(), AOut.c_str(), FALSE)) FailWithError(L"copying " + AIn + L" to " + AOut);
    TResourceUpdate update(BeginUpdateResourceW(AOut.c_str(), TRUE));
    if (!update) FailWithError(L"BeginUpdateResourceW on " + AOut);
    for (const TResource& r : wanted) {
        if (!UpdateResourceW(update.Get(), r.Type.Get(), r.Name.Get(), r.Language, const_cast<char*>(r.Data.data()),
                             static_cast<DWORD>(r.Data.size())))
            FailWithError(L"UpdateResourceW of " + r.Type.Text() + L" " + r.Name.Text());
    }
    if (!EndUpdateResourceW(update.Release(), FALSE)) FailWithError(L"EndUpdateResourceW on " + AOut);

    if (!SameResources(ReadResources(AOut), wanted))
        Fail(L"the copy's resources are not the ones written (" + what + (AData ? L" replaced)" : L" deleted)"));
    Print(AOut);
}

// ---- windows ----

// "Class" is the first visible top-level window of that class;
// "Class/Child" the first child inside it that is of that class, or that
// control ("Button:checkbox", see tools::ControlName).
HWND WaitTarget(const std::wstring& ATarget, DWORD ATimeoutMs)
{
    size_t slash = ATarget.find(L'/');
    std::wstring topClass = ATarget.substr(0, slash);
    std::wstring childClass = slash == std::wstring::npos ? L"" : ATarget.substr(slash + 1);
    std::optional<HWND> found = WaitFor(ATimeoutMs, [&]() -> std::optional<HWND> {
        for (HWND top : TopLevelWindows()) {
            if (!IsWindowVisible(top) || !SameClass(top, topClass)) continue;
            if (childClass.empty()) return top;
            for (HWND child : ChildWindows(top))
                if (SameControl(child, childClass)) return child;
        }
        return std::nullopt;
    });
    if (!found) Fail(L"time-out: no visible window \"" + ATarget + L"\" after " + std::to_wstring(ATimeoutMs) + L" ms");
    return *found;
}

// ---- commands ----

void CmdRects(const TArgs& A)
{
    A.Need(2, 2);
    HWND wnd = WaitTarget(A[0], NumberArg(A[1]));
    RECT client{};
    GetClientRect(wnd, &client);
    POINT origin{0, 0};
    ClientToScreen(wnd, &origin);
    OffsetRect(&client, origin.x, origin.y);
    Print(L"client " + RectText(client));
    Print(L"dpi " + std::to_wstring(GetDpiForWindow(wnd)));
    for (HWND child : ChildWindows(wnd)) {
        if (GetParent(child) != wnd) continue;
        RECT r{};
        GetWindowRect(child, &r);
        OffsetRect(&r, -origin.x, -origin.y);
        Print(ControlName(child) + L" " + RectText(r));
    }
}

// Waits until the window and every window inside it have painted: no update
// region is left in any. Each child paints on its own turn, possibly well
// after its siblings are on the screen.
void CmdPainted(const TArgs& A)
{
    A.Need(2, 2);
    DWORD timeout = NumberArg(A[1]);
    ULONGLONG deadline = GetTickCount64() + timeout;
    HWND wnd = WaitTarget(A[0], timeout);
    for (;;) {
        std::vector<HWND> windows = ChildWindows(wnd);
        windows.push_back(wnd);
        auto pending = std::find_if(windows.begin(), windows.end(), [](HWND AWnd) {
            return IsWindowVisible(AWnd) && GetUpdateRect(AWnd, nullptr, FALSE);
        });
        if (pending == windows.end()) return;
        if (GetTickCount64() >= deadline)
            Fail(L"time-out: " + ControlName(*pending) + L" in \"" + A[0] + L"\" still unpainted after " +
                 std::to_wstring(timeout) + L" ms");
        Sleep(KPollMs);
    }
}

void CmdMessage(const TArgs& A, bool ASend)
{
    A.Need(4, 5);
    HWND wnd = WaitTarget(A[0], A.size() == 5 ? NumberArg(A[4]) : 10000);
    UINT message = static_cast<UINT>(NumberArg(A[1]));
    auto wParam = static_cast<WPARAM>(NumberArg(A[2]));
    auto lParam = static_cast<LPARAM>(NumberArg(A[3]));
    if (!ASend) {
        if (!PostMessageW(wnd, message, wParam, lParam)) FailWithError(L"PostMessageW");
        return;
    }
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(wnd, message, wParam, lParam, SMTO_ABORTIFHUNG, KSendTimeoutMs, &result))
        FailWithError(L"SendMessageTimeoutW");
    Print(std::to_wstring(static_cast<long long>(static_cast<LRESULT>(result))));
}

void CmdSend(const TArgs& A)
{
    CmdMessage(A, true);
}
void CmdPost(const TArgs& A)
{
    CmdMessage(A, false);
}

// Where the window answers WM_NCHITTEST with ACode (HTCLOSE is 20): the
// centre of those points in the window's top-right 64x64 corner, on the
// screen, so a script can click the caption buttons themselves.
void CmdHit(const TArgs& A)
{
    A.Need(3, 3);
    HWND wnd = WaitTarget(A[0], NumberArg(A[2]));
    auto code = static_cast<LRESULT>(NumberArg(A[1]));
    RECT window{};
    GetWindowRect(wnd, &window);
    constexpr int KCorner = 64;
    RECT found{LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
    for (int y = window.top; y < window.top + KCorner && y < window.bottom; ++y) {
        for (int x = window.right - 1; x >= window.right - KCorner && x >= window.left; --x) {
            DWORD_PTR hit = 0;
            if (!SendMessageTimeoutW(wnd, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG, KSendTimeoutMs, &hit))
                FailWithError(L"SendMessageTimeoutW");
            if (static_cast<LRESULT>(hit) != code) continue;
            found = {std::min<LONG>(found.left, x), std::min<LONG>(found.top, y), std::max<LONG>(found.right, x + 1),
                     std::max<LONG>(found.bottom, y + 1)};
        }
    }
    if (found.left > found.right)
        Fail(L"no point answers hit-test code " + A[1] + L" in the window's top-right corner");
    Print(std::to_wstring((found.left + found.right) / 2) + L" " + std::to_wstring((found.top + found.bottom) / 2) +
          L" " + RectText(found));
}

// Draws the text as a label does (DrawTextW, single line, at the origin) in
// the program's font and prints its extent and the bounding box of its ink,
// so a script can tell where a label's ink must appear on the screen.
void CmdInk(const TArgs& A)
{
    A.Need(3, 3);
    int height = static_cast<int>(NumberArg(A[0]));
    if (A[1] != L"normal" && A[1] != L"bold") Fail(L"ink: the weight is normal or bold", KExitUsage);
    LOGFONTW font{};
    font.lfHeight = -height;
    font.lfWeight = A[1] == L"bold" ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    wcscpy(font.lfFaceName, L"Segoe UI");
    fw::TFontHandle hfont(CreateFontIndirectW(&font));
    fw::TMemoryDC memoryDC(CreateCompatibleDC(nullptr));
    HDC dc = memoryDC.Get();
    fw::TSelectObject selectFont(dc, hfont.Get());
    const std::wstring& text = A[2];
    RECT extent{};
    DrawTextW(dc, text.c_str(), -1, &extent, DT_SINGLELINE | DT_NOPREFIX | DT_CALCRECT);

    // Room around the extent for ink that overhangs it (italics, bearings).
    const int margin = height;
    const int width = extent.right + 2 * margin, rows = extent.bottom + 2 * margin;
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -rows, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    fw::TBitmapHandle bitmap(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    fw::TSelectObject selectBitmap(dc, bitmap.Get());
    RECT all{0, 0, width, rows};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    RECT place{margin, margin, margin + extent.right, margin + extent.bottom};
    DrawTextW(dc, text.c_str(), -1, &place, DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
    GdiFlush();

    // Ink: at least half bright, as a script thresholds the screen.
    RECT ink{LONG_MAX, LONG_MAX, LONG_MIN, LONG_MIN};
    const auto* pixels = static_cast<const BYTE*>(bits);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x) {
            const BYTE* p = pixels + (static_cast<size_t>(y) * width + x) * 4;
            if (p[0] + p[1] + p[2] < 3 * 128) continue;
            ink = {std::min<LONG>(ink.left, x - margin), std::min<LONG>(ink.top, y - margin),
                   std::max<LONG>(ink.right, x - margin + 1), std::max<LONG>(ink.bottom, y - margin + 1)};
        }
    if (ink.left > ink.right) Fail(L"ink: the text leaves no ink");
    Print(L"extent " + std::to_wstring(extent.right) + L" " + std::to_wstring(extent.bottom));
    Print(L"ink " + RectText(ink));
}

// Makes the altered copy: <in.exe> <out.exe> <action> <type> <name> [data].
void PatchCommand(const TArgs& A)
{
    if (A.size() < 5) Fail(L"wrong number of arguments (see twpatchres help)", KExitUsage);
    std::wstring in = WindowsPath(A[0]), out = WindowsPath(A[1]);
    const std::wstring& action = A[2];
    TResKey type = TResKey::Parse(A[3]), name = TResKey::Parse(A[4]);
    if (action == L"delete" && A.size() == 5)
        Patch(in, out, type, name, std::nullopt);
    else if (action == L"replace" && A.size() == 6)
        Patch(in, out, type, name, ReadFileBytes(WindowsPath(A[5])));
    else if (action == L"replace-text" && A.size() == 6)
        Patch(in, out, type, name, Unescape(A[5]));
    else
        Fail(L"unknown action or wrong number of arguments: " + action + L" (see twpatchres help)", KExitUsage);
}

// The patching forms start with the input file, not a command name: they are
// listed here and reached through PatchCommand.
constexpr TCommand KCommands[] = {
    {L"<in.exe> <out.exe> delete", L"<type> <name>", nullptr, nullptr},
    {L"<in.exe> <out.exe> replace", L"<type> <name> <data file>", nullptr, nullptr},
    {L"<in.exe> <out.exe> replace-text", L"<type> <name> <text with \\n \\r \\t \\\\>",
     L"copies the executable and deletes or replaces one resource (language 1033) in the copy;\n"
     L"a type or name of digits (or #digits) is an integer id; prints the copy's path",
     nullptr},
    {L"rects", L"<class>[/<child class>] <timeout_ms>",
     L"a visible window: its client area on the screen, its DPI, then each child window's\n"
     L"class and rectangle relative to the client area (left top right bottom)",
     CmdRects},
    {L"painted", L"<class> <timeout_ms>", L"waits until a visible window and every window inside it have painted",
     CmdPainted},
    {L"send", L"<target> <message> <wparam> <lparam> [timeout_ms]",
     L"sends a message (numbers in C notation) and prints the result", CmdSend},
    {L"post", L"<target> <message> <wparam> <lparam> [timeout_ms]", L"posts a message", CmdPost},
    {L"hit", L"<class> <hit-test code> <timeout_ms>",
     L"where the window's top-right corner answers WM_NCHITTEST with the code (HTCLOSE = 20):\n"
     L"the centre on the screen (x y), then the bounding rectangle",
     CmdHit},
    {L"ink", L"<height px> <normal|bold> <text>",
     L"the extent of the text in the program's font (width height) and its ink's bounding box\n"
     L"(left top right bottom) relative to where a label draws it",
     CmdInk},
};

constexpr const wchar_t* KHelpHead[] = {L"usage:"};
constexpr const wchar_t* KHelpFoot[] = {L"Unix paths (/...) are opened through the Z: drive."};

} // namespace

int wmain(int argc, wchar_t** argv)
{
    // Window rectangles in real pixels, also when the system DPI is not 96.
    SetThreadDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
    return RunTool({.Name = L"twpatchres",
                    .Commands = KCommands,
                    .Head = KHelpHead,
                    .Foot = KHelpFoot,
                    .CommandPrefix = L"  twpatchres ",
                    .Otherwise = PatchCommand,
                    .HelpWhenEmpty = true},
                   argc, argv);
}
