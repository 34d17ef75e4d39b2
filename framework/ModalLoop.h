#pragma once
// The modal loop: one window in front, every other visible window of this
// thread disabled, and the application's window standing for the program in
// the taskbar, until the window is done. The dialog manager
// (IsDialogMessageW) gets its keys first.
#include <windows.h>

#include <functional>

namespace fw {

class TApplication;

// Shows AWnd centred on its monitor, in the foreground with the focus on its
// first tab stop, and runs AApplication's message loop until ADone answers
// true; then hides AWnd and enables the other windows again. False when the
// program's end (WM_QUIT) cut the loop short.
bool RunModal(TApplication& AApplication, HWND AWnd, const std::function<bool()>& ADone);

} // namespace fw
