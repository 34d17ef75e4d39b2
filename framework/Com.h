#pragma once
// COM for the calling thread, made ready on first need rather than at start:
// nothing at start uses it, and ole32 with the DLLs it pulls in costs the
// start time and memory. Call it before anything that may use COM (asking
// the shell to open something); it stays until the thread ends.
#include <windows.h>
#include <unknwn.h>

namespace fw {

void NeedCom() noexcept;

// CoCreateInstance, with COM made ready first.
HRESULT CreateComInstance(REFCLSID AClass, REFIID AInterface, void** AObject) noexcept;

} // namespace fw
