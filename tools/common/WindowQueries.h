#pragma once
// Window lookups shared by the test tools that drive the program from outside.
#include <windows.h>

#include <cwchar>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace tools {

// How often the tools look again while they wait for something to happen.
constexpr DWORD KPollMs = 20;

// Polls ACheck (which yields a std::optional) until it yields a value or the
// deadline passes; checks once more at the deadline so a zero time-out still looks.
template <typename TCheck>
auto WaitFor(DWORD ATimeoutMs, TCheck ACheck) -> decltype(ACheck())
{
    ULONGLONG deadline = GetTickCount64() + ATimeoutMs;
    for (;;) {
        if (auto value = ACheck()) return value;
        if (GetTickCount64() >= deadline) return std::nullopt;
        Sleep(KPollMs);
    }
}

inline std::vector<HWND> TopLevelWindows()
{
    std::vector<HWND> windows;
    EnumWindows(
        [](HWND AWnd, LPARAM AParam) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(AParam)->push_back(AWnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// Every window inside AParent, at any depth.
inline std::vector<HWND> ChildWindows(HWND AParent)
{
    std::vector<HWND> windows;
    EnumChildWindows(
        AParent,
        [](HWND AWnd, LPARAM AParam) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(AParam)->push_back(AWnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// "left top right bottom"
inline std::wstring RectText(const RECT& ARect)
{
    wchar_t buffer[64];
    std::swprintf(buffer, std::size(buffer), L"%ld %ld %ld %ld", ARect.left, ARect.top, ARect.right, ARect.bottom);
    return buffer;
}

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
