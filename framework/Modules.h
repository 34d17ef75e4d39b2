#pragma once
// The executable and the DLLs it binds at run time: a module's file name, its
// resources, the system's own DLLs and the functions looked up in them.
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "framework/Handles.h"

namespace fw {

// Room for the longest path the system hands out, its NUL included.
constexpr size_t KMaxPathUnits = 32768;

// The full path of AModule's file (null: the executable), read into a buffer
// of at most ABufferUnits UTF-16 units, its NUL included. Nothing when the
// path does not fit or the call fails: never a cut path.
std::optional<std::wstring> ModuleFileName(HMODULE AModule, size_t ABufferUnits);
// The whole path, however long; empty when the call fails.
std::wstring ModuleFileName(HMODULE AModule = nullptr);

// The part of APath after its last "\" or "/".
std::wstring FileNameOf(const std::wstring& APath);

// The bytes of the resource AName of type AType in AModule (null: the
// executable), which live as long as the module; nothing when it is missing.
std::optional<std::string_view> ResourceBytes(HMODULE AModule, const wchar_t* AName, const wchar_t* AType) noexcept;

// A DLL from the system folder only, so that one planted beside the
// executable never stands in for it.
TModuleHandle LoadSystemLibrary(const wchar_t* AName) noexcept;

// The function AName exported by AModule, as the type the caller declares it
// with; null when AModule is null or exports no such name.
template <typename T>
T GetProc(HMODULE AModule, const char* AName) noexcept
{
    static_assert(std::is_pointer_v<T> && std::is_function_v<std::remove_pointer_t<T>>);
    if (!AModule) return nullptr;
    // The loader hands out every export as a FARPROC. Only the caller knows
    // the real type; the step through void (*)(), the generic function
    // pointer type, tells the compiler so.
    return reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(AModule, AName)));
}

// The same from a DLL the process has loaded already (user32, kernel32).
template <typename T>
T GetProc(const wchar_t* ALoadedModule, const char* AName) noexcept
{
    return GetProc<T>(GetModuleHandleW(ALoadedModule), AName);
}

} // namespace fw
