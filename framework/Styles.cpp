#include "framework/Styles.h"

#include <commctrl.h>

#include "framework/Application.h"
#include "framework/Handles.h"
#include "framework/Modules.h"
#include "framework/Services.h"
#include "framework/ThemedBoxes.h"

namespace fw {

namespace {

constexpr wchar_t KStyleResourceType[] = L"FWSTYLE";

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

} // namespace

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
