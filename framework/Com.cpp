#include "framework/Com.h"

#include <objbase.h>

#include "framework/Modules.h"

namespace fw {

namespace {

// ole32 is bound here, not imported: an import would load it, and combase and
// rpcrt4 with it, at every start.
struct TOle32 {
    TModuleHandle Module = LoadSystemLibrary(L"ole32.dll");
    decltype(&CoInitializeEx) Initialize = GetProc<decltype(&CoInitializeEx)>(Module.Get(), "CoInitializeEx");
    decltype(&CoUninitialize) Uninitialize = GetProc<decltype(&CoUninitialize)>(Module.Get(), "CoUninitialize");
    decltype(&CoCreateInstance) CreateInstance = GetProc<decltype(&CoCreateInstance)>(Module.Get(), "CoCreateInstance");
};

const TOle32& Ole32()
{
    static const TOle32 ole32;
    return ole32;
}

// This thread's single-threaded apartment, entered once and left with the thread.
struct TApartment {
    bool Entered = Ole32().Initialize && Ole32().Uninitialize &&
                   SUCCEEDED(Ole32().Initialize(nullptr, COINIT_APARTMENTTHREADED));
    TApartment() = default;
    TApartment(const TApartment&) = delete;
    TApartment& operator=(const TApartment&) = delete;
    ~TApartment()
    {
        if (Entered) Ole32().Uninitialize();
    }
};

} // namespace

void NeedCom() noexcept
{
    static thread_local TApartment apartment;
}

HRESULT CreateComInstance(REFCLSID AClass, REFIID AInterface, void** AObject) noexcept
{
    NeedCom();
    if (!Ole32().CreateInstance) return REGDB_E_CLASSNOTREG;
    return Ole32().CreateInstance(AClass, nullptr, CLSCTX_INPROC_SERVER, AInterface, AObject);
}

} // namespace fw
