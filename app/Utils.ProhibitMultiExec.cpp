#include "app/Utils.ProhibitMultiExec.h"

#include <windows.h>

#include "framework/Handles.h"

namespace Utils::ProhibitMultiExec {

namespace {
// The guard's state: the instance mutex, null while none is held.
fw::TKernelHandle GInstanceMutex;
} // namespace

bool CreateInstanceMutex(const std::wstring& AName)
{
    // The handle is kept whatever the outcome: it is non-null also when the
    // mutex existed, and closing it is the release's business.
    GInstanceMutex.Reset(CreateMutexW(nullptr, FALSE, AName.c_str()));
    if (GetLastError() == ERROR_ALREADY_EXISTS) return false;
    return static_cast<bool>(GInstanceMutex);
}

void ReleaseInstanceMutex()
{
    GInstanceMutex.Reset();
}

} // namespace Utils::ProhibitMultiExec
