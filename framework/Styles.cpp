#include "framework/Styles.h"

#include <commctrl.h>

#include <algorithm>

#include "framework/Application.h"
#include "framework/Handles.h"
#include "framework/Modules.h"
#include "framework/Services.h"
#include "framework/Text.h"
#include "framework/ThemedBoxes.h"

namespace fw {

namespace {

constexpr std::array<std::u16string_view, static_cast<size_t>(TStyleColor::Count)> KStyleColorKeys = {
    u"Window",        u"WindowText",        u"MenuBackground",   u"MenuText",
    u"MenuHighlight", u"MenuHighlightText", u"MenuDisabledText", u"MenuSeparator",
    u"MenuCheck",     u"ButtonFace",        u"ButtonText",       u"ButtonHover",
    u"Border"};

constexpr wchar_t KStyleResourceType[] = L"FWSTYLE";

std::optional<COLORREF> ParseColor(std::u16string_view s)
{
    if (s.size() != 7 || s[0] != u'#') return std::nullopt;
    unsigned v = 0;
    for (char16_t c : s.substr(1)) {
        int d = HexDigitValue(c);
        if (d < 0) return std::nullopt;
        v = v * 16 + static_cast<unsigned>(d);
    }
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

struct TRegistry {
    bool Registered = false;
    std::vector<TStyle> Styles;
    std::optional<TStyle> Active;
    bool HighContrast = false;
};

// Theme state is the framework's own process-wide style manager.
TRegistry& Registry()
{
    static TRegistry registry;
    return registry;
}

bool SameName(const std::wstring& A, const std::wstring& B)
{
    return CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE, A.c_str(), static_cast<int>(A.size()), B.c_str(),
                          static_cast<int>(B.size())) == CSTR_EQUAL;
}

std::optional<TStyle> LoadStyleResource(HMODULE AModule, const wchar_t* AName)
{
    std::optional<std::string_view> bytes = ResourceBytes(AModule, AName, KStyleResourceType);
    return bytes ? ParseStyle(*bytes) : std::nullopt;
}

std::wstring ResourceName(const wchar_t* AName)
{
    return IS_INTRESOURCE(AName) ? L"#" + std::to_wstring(reinterpret_cast<uintptr_t>(AName)) : std::wstring(AName);
}

void RegisterStyles(TRegistry& ARegistry)
{
    HMODULE module = GetModuleHandleW(nullptr);
    std::vector<std::wstring> names;
    EnumResourceNamesW(
        module, KStyleResourceType,
        [](HMODULE, LPCWSTR, LPWSTR AName, LONG_PTR AParam) -> BOOL {
            reinterpret_cast<std::vector<std::wstring>*>(AParam)->push_back(ResourceName(AName));
            return TRUE;
        },
        reinterpret_cast<LONG_PTR>(&names));
    ARegistry.Registered = true;
    std::wstring failed;
    for (const std::wstring& name : names) {
        if (auto style = LoadStyleResource(module, name.c_str()))
            ARegistry.Styles.push_back(std::move(*style));
        else if (failed.empty())
            failed = name;
    }
    if (!failed.empty()) throw EStyleError(L"スタイル リソース '" + failed + L"' を読み込めません");
}

void ShowNotFoundBox(const std::wstring& AName)
{
    std::wstring text = TStyleManager::NotFoundText(AName);
    std::wstring title = Application ? Application->Title() : std::wstring();
    // Bound on demand: importing the common controls would load them at
    // every start for a box that is hardly ever shown.
    using TTaskDialogIndirect = HRESULT(WINAPI*)(const TASKDIALOGCONFIG*, int*, int*, BOOL*);
    TModuleHandle controls = LoadSystemLibrary(L"comctl32.dll");
    auto taskDialog = GetProc<TTaskDialogIndirect>(controls.Get(), "TaskDialogIndirect");
    if (!taskDialog) {
        MessageBoxW(Application ? Application->Handle() : nullptr, text.c_str(), title.c_str(), MB_OK | MB_ICONERROR);
        return;
    }
    TASKDIALOGCONFIG config{};
    config.cbSize = sizeof(config);
    config.hwndParent = Application ? Application->Handle() : nullptr;
    config.dwCommonButtons = TDCBF_CLOSE_BUTTON;
    config.pszWindowTitle = title.c_str();
    config.pszMainIcon = TD_ERROR_ICON;
    config.pszContent = text.c_str();
    taskDialog(&config, nullptr, nullptr, nullptr);
}

// One "Key=value" line into AStyle: the name, or a colour marked in ASeen.
// False for a line that is neither.
bool ReadStyleLine(std::u16string_view ALine, TStyle& AStyle, std::array<bool, KStyleColorKeys.size()>& ASeen,
                   bool& ANamed)
{
    const size_t eq = ALine.find(u'=');
    if (eq == std::u16string_view::npos) return false;
    const std::u16string_view key = Trim(ALine.substr(0, eq));
    const std::u16string_view value = Trim(ALine.substr(eq + 1));
    if (key == u"Name") {
        if (value.empty()) return false;
        AStyle.Name = ToWide(value);
        ANamed = true;
        return true;
    }
    const auto* at = std::ranges::find(KStyleColorKeys, key);
    if (at == KStyleColorKeys.end()) return false;
    const auto color = ParseColor(value);
    if (!color) return false;
    const auto i = static_cast<size_t>(at - KStyleColorKeys.begin());
    AStyle.Colors[i] = *color;
    ASeen[i] = true;
    return true;
}

} // namespace

std::optional<TStyle> ParseStyle(std::string_view AText)
{
    if (AText.size() >= 3 && AText.substr(0, 3) == "\xEF\xBB\xBF") AText.remove_prefix(3);
    // Read leniently: a damaged byte can only keep a line from matching, or
    // show in the name.
    const std::u16string text = Utf8ToUtf16(AText);
    std::u16string_view rest = text;
    TStyle style;
    bool magic = false;
    bool named = false;
    std::array<bool, KStyleColorKeys.size()> seen{};
    while (!rest.empty()) {
        size_t end = rest.find_first_of(u"\r\n");
        std::u16string_view line = Trim(rest.substr(0, end));
        rest.remove_prefix(end == std::u16string_view::npos ? rest.size() : end + 1);
        if (line.empty() || line[0] == u';') continue;
        if (!magic) {
            if (line != u"FWSTYLE 1") return std::nullopt;
            magic = true;
            continue;
        }
        if (!ReadStyleLine(line, style, seen, named)) return std::nullopt;
    }
    const bool allColors = std::ranges::all_of(seen, [](bool s) { return s; });
    if (!magic || !named || !allColors) return std::nullopt;
    return style;
}

bool TStyleManager::TrySetStyle(const std::wstring& AName, bool AShowErrorMessage)
{
    TRegistry& registry = Registry();
    if (!registry.Registered) RegisterStyles(registry);
    if (registry.Active && SameName(registry.Active->Name, AName)) return true;
    for (const TStyle& style : registry.Styles) {
        if (SameName(style.Name, AName)) {
            registry.Active = style;
            registry.HighContrast = Services().HighContrast();
            HookMessageBoxes();
            return true;
        }
    }
    if (AShowErrorMessage) ShowNotFoundBox(AName);
    return false;
}

const TStyle* TStyleManager::ActiveStyle() noexcept
{
    TRegistry& registry = Registry();
    return registry.Active && !registry.HighContrast ? &*registry.Active : nullptr;
}

void TStyleManager::Reset() noexcept
{
    Registry() = TRegistry{};
}

bool TStyleManager::HighContrast() noexcept
{
    return Registry().HighContrast;
}

bool TStyleManager::SettingsChanged()
{
    TRegistry& registry = Registry();
    bool now = Services().HighContrast();
    if (now == registry.HighContrast) return false;
    registry.HighContrast = now;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND AWnd, LPARAM) -> BOOL {
            RedrawWindow(AWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN);
            return TRUE;
        },
        0);
    return true;
}

std::wstring TStyleManager::NotFoundText(const std::wstring& AName)
{
    return L"スタイル '" + AName + L"' が見つかりません";
}

} // namespace fw
