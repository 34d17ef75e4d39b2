// The stack protector's guard and its failure, for the program itself, in
// place of the toolchain's libssp. That one seeds the guard through the
// CryptoAPI, which loads three DLLs and half a megabyte at every start;
// RtlGenRandom gives the same randomness from advapi32, which the program
// imports anyway. This unit is built without the protector: it runs before
// the guard is set, and its failure path must not check a guard again.
#ifdef __MINGW32__

#include <windows.h>
#include <ntsecapi.h>

#include <cstdint>

namespace {

// What the system reports for a broken stack cookie.
constexpr UINT KStackBufferOverrun = 0xC0000409;

} // namespace

extern "C" {

// Read by every protected function's prologue and epilogue.
void* __stack_chk_guard = nullptr;

// A protected function found its frame overwritten: nothing on this stack
// can be trusted, not even unwinding it. End at once.
[[noreturn]] void __stack_chk_fail()
{
    TerminateProcess(GetCurrentProcess(), KStackBufferOverrun);
    for (;;) {
    }
}

} // extern "C"

namespace {

// Before any other constructor, so no protected function has a frame yet.
__attribute__((constructor(101))) void SetStackGuard()
{
    std::uintptr_t guard = 0;
    if (!RtlGenRandom(&guard, sizeof(guard)) || guard == 0) {
        // Without the system's randomness, what differs from run to run.
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        guard = static_cast<std::uintptr_t>(counter.QuadPart) ^ (std::uintptr_t{GetCurrentProcessId()} << 32) ^
                GetCurrentThreadId() ^ reinterpret_cast<std::uintptr_t>(&guard) ^ GetTickCount64();
    }
    // A zero byte first stops string copies that run over the guard.
    __stack_chk_guard = reinterpret_cast<void*>(guard & ~std::uintptr_t{0xFF});
}

} // namespace

#endif
