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

// A control as the tools name it: its class, and for the system's buttons
// also their kind ("Button:push", "Button:checkbox"), which the class alone
// does not tell apart.
inline std::wstring ControlName(HWND AWnd)
{
    std::wstring name = ClassOf(AWnd);
    if (!SameClass(AWnd, L"Button")) return name;
    switch (GetWindowLongPtrW(AWnd, GWL_STYLE) & BS_TYPEMASK) {
    case BS_PUSHBUTTON:
    case BS_DEFPUSHBUTTON: return name + L":push";
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX: return name + L":checkbox";
    default: return name + L":other";
    }
}

// AName is a class ("Button") or a control name ("Button:checkbox").
inline bool SameControl(HWND AWnd, const std::wstring& AName)
{
    if (AName.find(L':') == std::wstring::npos) return SameClass(AWnd, AName);
    return CompareStringOrdinal(ControlName(AWnd).c_str(), -1, AName.c_str(), -1, TRUE) == CSTR_EQUAL;
}

} // namespace tools
