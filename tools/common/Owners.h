#pragma once
// Owners of the handle kinds that only the tools hold, made from the
// framework's template like its own.
#include <windows.h>

#include "framework/Handles.h"

namespace tools {

inline void Unhook(HHOOK AValue) noexcept
{
    UnhookWindowsHookEx(AValue);
}
inline void FreeLocalMemory(HLOCAL AValue) noexcept
{
    LocalFree(AValue);
}
// Ending an update without committing it leaves the file as it was.
inline void DiscardResourceUpdate(HANDLE AValue) noexcept
{
    EndUpdateResourceW(AValue, TRUE);
}

using THookHandle = fw::TUniqueHandle<HHOOK, fw::TNullTraits<HHOOK, Unhook>>;
// A buffer the system allocated for the caller (FORMAT_MESSAGE_ALLOCATE_BUFFER).
using TLocalMemory = fw::TUniqueHandle<HLOCAL, fw::TNullTraits<HLOCAL, FreeLocalMemory>>;
// From BeginUpdateResourceW; commit with EndUpdateResourceW(Release(), FALSE).
using TResourceUpdate = fw::TUniqueHandle<HANDLE, fw::TNullTraits<HANDLE, DiscardResourceUpdate>>;

} // namespace tools
