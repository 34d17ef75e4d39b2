#include "framework/CommonControls.h"

#include "framework/Handles.h"
#include "framework/Modules.h"

namespace fw {

HMODULE LoadCommonControls() noexcept
{
    // LoadLibraryW by name: the activation context, not a path, picks the
    // version, and SetDefaultDllDirectories keeps the search to the system.
    static const TModuleHandle module(LoadLibraryW(L"comctl32.dll"));
    return module.Get();
}

const TSubclassing& Subclassing() noexcept
{
    static const TSubclassing subclassing = [] {
        HMODULE module = LoadCommonControls();
        TSubclassing bound;
        bound.Set = GetProc<decltype(&SetWindowSubclass)>(module, "SetWindowSubclass");
        bound.Remove = GetProc<decltype(&RemoveWindowSubclass)>(module, "RemoveWindowSubclass");
        bound.Default = GetProc<decltype(&DefSubclassProc)>(module, "DefSubclassProc");
        return bound ? bound : TSubclassing{};
    }();
    return subclassing;
}

} // namespace fw
