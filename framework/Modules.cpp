#include "framework/Modules.h"

#include <algorithm>

namespace fw {

std::optional<std::wstring> ModuleFileName(HMODULE AModule, size_t ABufferUnits)
{
    std::wstring path(std::min<size_t>(ABufferUnits, MAX_PATH + 1), L'\0');
    while (!path.empty()) {
        DWORD n = GetModuleFileNameW(AModule, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return std::nullopt;
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        // GetModuleFileNameW fills the whole buffer when the path is cut.
        if (path.size() >= ABufferUnits) return std::nullopt;
        path.resize(std::min(path.size() * 2, ABufferUnits));
    }
    return std::nullopt;
}

std::wstring ModuleFileName(HMODULE AModule)
{
    return ModuleFileName(AModule, KMaxPathUnits).value_or(std::wstring());
}

std::wstring FileNameOf(const std::wstring& APath)
{
    size_t slash = APath.find_last_of(L"\\/");
    return slash == std::wstring::npos ? APath : APath.substr(slash + 1);
}

std::optional<std::string_view> ResourceBytes(HMODULE AModule, const wchar_t* AName, const wchar_t* AType) noexcept
{
    if (!AModule) AModule = GetModuleHandleW(nullptr);
    HRSRC info = FindResourceW(AModule, AName, AType);
    HGLOBAL data = info ? LoadResource(AModule, info) : nullptr;
    const void* bytes = data ? LockResource(data) : nullptr;
    if (!bytes) return std::nullopt;
    return std::string_view(static_cast<const char*>(bytes), SizeofResource(AModule, info));
}

TModuleHandle LoadSystemLibrary(const wchar_t* AName) noexcept
{
    return TModuleHandle(LoadLibraryExW(AName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
}

} // namespace fw
