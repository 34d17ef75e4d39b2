#pragma once
// Window lookups shared by the test tools that drive the program from outside.
#include <windows.h>

#include <iterator>
#include <string>

namespace tools {

inline std::wstring ClassOf(HWND AWnd)
{
    wchar_t name[256] = {};
    GetClassNameW(AWnd, name, static_cast<int>(std::size(name)));
    return name;
}

inline bool SameClass(HWND AWnd, const std::wstring& AClass)
{
    return CompareStringOrdinal(ClassOf(AWnd).c_str(), -1, AClass.c_str(), -1, TRUE) == CSTR_EQUAL;
}

} // namespace tools
