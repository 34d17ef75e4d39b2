#include "framework/Synchronize.h"

#include <atomic>

#include "framework/SyncQueue.h"

namespace fw {

namespace {

struct TMainThreadQueue {
    std::atomic<HWND> WakeWindow{nullptr};
    TSyncQueue Queue{[this] {
        if (HWND wnd = WakeWindow.load()) PostMessageW(wnd, WM_NULL, 0, 0);
    }};
};

TMainThreadQueue& MainThreadQueue()
{
    // Never destroyed on purpose: no destructor may run under a waiting worker.
    static auto* queue = new TMainThreadQueue;
    return *queue;
}

} // namespace

void Synchronize(const std::function<void()>& AProc)
{
    MainThreadQueue().Queue.Synchronize(AProc);
}

bool CheckSynchronize()
{
    return MainThreadQueue().Queue.CheckSynchronize();
}

void SetSynchronizeWindow(HWND AWnd) noexcept
{
    MainThreadQueue().WakeWindow.store(AWnd);
}

void CloseSynchronize()
{
    MainThreadQueue().Queue.Close();
}

} // namespace fw
