#include "framework/Com.h"

#include <windows.h>
#include <objbase.h>

namespace fw {

namespace {

// This thread's single-threaded apartment, entered once and left with the thread.
struct TApartment {
    bool Entered = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ~TApartment()
    {
        if (Entered) CoUninitialize();
    }
};

} // namespace

void NeedCom() noexcept
{
    thread_local TApartment apartment;
}

} // namespace fw
