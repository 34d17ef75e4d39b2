#pragma once
// The single-instance guard: a named mutex whose existence marks a running
// instance in this Windows session.
#include <string>

namespace Utils::ProhibitMultiExec {

// True when this process created the mutex AName; false when it existed
// already or could not be created.
bool CreateInstanceMutex(const std::wstring& AName);
// Gives the handle back; does nothing when none is held.
void ReleaseInstanceMutex();

} // namespace Utils::ProhibitMultiExec
