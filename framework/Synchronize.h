#pragma once
// The process's one hand-off queue from worker threads to the user-interface
// thread. It is made on first use and never destroyed, and it is reached
// without the application object: a worker may still be waiting in it, or
// only just handing over, while the exit frees everything else.
#include <windows.h>

#include <functional>

namespace fw {

// Worker side: runs AProc on the user-interface thread and returns once it
// has run there, re-raising what it raised. After the message loop has ended
// it never returns: the worker stays blocked until the process ends.
void Synchronize(const std::function<void()>& AProc);

// User-interface side: runs the requests handed over so far, in order; true
// when any ran.
bool CheckSynchronize();

// The window a hand-over wakes with a posted WM_NULL; null for none.
void SetSynchronizeWindow(HWND AWnd) noexcept;

// The message loop has ended: nothing handed over runs any more.
void CloseSynchronize();

} // namespace fw
