#include "settings/uAutoRun.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "framework/Handles.h"
#include "framework/Locale.h"
#include "framework/Modules.h"
#include "framework/Services.h"

namespace uAutoRun {

namespace {

constexpr wchar_t KRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
// Where Task Manager and Settings keep their startup switch for each Run value:
// a binary value of the same name whose first byte has its lowest bit set
// while the entry is switched off.
constexpr wchar_t KApprovedKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
// What Task Manager writes when it switches an entry on: 0x02, then no time.
constexpr BYTE KApprovedEnabled[12] = {0x02};

// Upper case in the locale read at start-up, with the language's own rules.
std::wstring ComparisonForm(const std::wstring& AText)
{
    if (AText.empty()) return AText;
    LCID locale = fw::StartupLocale();
    DWORD flags = LCMAP_UPPERCASE | LCMAP_LINGUISTIC_CASING;
    int n = LCMapStringW(locale, flags, AText.c_str(), static_cast<int>(AText.size()), nullptr, 0);
    std::wstring upper(static_cast<size_t>(n), L'\0');
    LCMapStringW(locale, flags, AText.c_str(), static_cast<int>(AText.size()), upper.data(), n);
    return upper;
}

fw::TRegKey OpenRunKeyForReading()
{
    // Each step asks for less, for hives that refuse the broader rights.
    for (REGSAM access : {static_cast<REGSAM>(KEY_READ),
                          static_cast<REGSAM>(STANDARD_RIGHTS_READ | KEY_QUERY_VALUE | KEY_ENUMERATE_SUB_KEYS),
                          static_cast<REGSAM>(KEY_QUERY_VALUE)}) {
        fw::TRegKey key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, KRunKey, 0, access, key.Put()) == ERROR_SUCCESS) return key;
    }
    return {};
}

// The value names this executable: its path, bare (as earlier versions wrote
// it) or in one pair of double quotes, letter case aside.
bool NamesThisExecutable(const std::wstring& AStored, const std::wstring& APath)
{
    const std::wstring stored = ComparisonForm(AStored);
    return stored == ComparisonForm(APath) || stored == ComparisonForm(L"\"" + APath + L"\"");
}

// Whether Task Manager or Settings switched the value AName off.
bool SwitchedOff(const std::wstring& AName)
{
    fw::TRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, KApprovedKey, 0, KEY_QUERY_VALUE, key.Put()) != ERROR_SUCCESS) return false;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), AName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_BINARY || size == 0)
        return false;
    std::vector<BYTE> state(size);
    if (RegQueryValueExW(key.Get(), AName.c_str(), nullptr, &type, state.data(), &size) != ERROR_SUCCESS || size == 0)
        return false;
    return (state[0] & 1) != 0;
}

// Switches the value AName on again where Task Manager or Settings had it off.
void SwitchOn(const std::wstring& AName)
{
    if (!SwitchedOff(AName)) return;
    fw::TRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, KApprovedKey, 0, KEY_SET_VALUE, key.Put()) != ERROR_SUCCESS) return;
    RegSetValueExW(key.Get(), AName.c_str(), 0, REG_BINARY, KApprovedEnabled, sizeof(KApprovedEnabled));
}

fw::TRegKey CreateRunKey()
{
    fw::TRegKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, KRunKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr,
                        key.Put(), nullptr) != ERROR_SUCCESS)
        return {};
    return key;
}

} // namespace

bool IsAutoRun(const std::wstring& AName)
{
    fw::TRegKey key = OpenRunKeyForReading();
    if (!key) return false;
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExW(key.Get(), AName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    if (type != REG_SZ && type != REG_EXPAND_SZ) throw ERegistryException(L"'" + AName + L"' のデータ型が不正です");
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    auto bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (size > 0 && RegQueryValueExW(key.Get(), AName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                                     &bytes) != ERROR_SUCCESS)
        return false;
    // An expandable string counts as stored: its variables are not expanded.
    text.resize(wcsnlen(text.c_str(), text.size()));
    // A path that does not fit is never registered, so nothing stored is it.
    std::optional<std::wstring> path = fw::ModuleFileName(nullptr, fw::Services().PathBufferUnits);
    if (!path || !NamesThisExecutable(text, *path)) return false;
    // Windows starts no value that Task Manager or Settings switched off.
    return !SwitchedOff(AName);
}

bool RegisterAutoRun(const std::wstring& AName)
{
    try {
        // A cut path would start whatever file sits at the cut: nothing is written.
        std::optional<std::wstring> path = fw::ModuleFileName(nullptr, fw::Services().PathBufferUnits);
        if (!path) return false;
        // Quoted: the logon start splits an unquoted path at its first blank.
        const std::wstring command = L"\"" + *path + L"\"";
        if (fw::TRegKey key = CreateRunKey()) {
            if (RegSetValueExW(key.Get(), AName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                               static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
                return false;
        }
        SwitchOn(AName);
        return IsAutoRun(AName);
    } catch (...) {
        return false;
    }
}

bool UnregisterAutoRun(const std::wstring& AName)
{
    try {
        if (fw::TRegKey key = CreateRunKey()) RegDeleteValueW(key.Get(), AName.c_str());
        return !IsAutoRun(AName);
    } catch (...) {
        return false;
    }
}

} // namespace uAutoRun
