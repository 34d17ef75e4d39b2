#include "framework/Classes.h"

#include <windows.h>

namespace fw {

TShiftState GetShiftState() noexcept
{
    TShiftState state;
    state.Shift = GetKeyState(VK_SHIFT) < 0;
    state.Ctrl = GetKeyState(VK_CONTROL) < 0;
    state.Alt = GetKeyState(VK_MENU) < 0;
    return state;
}

} // namespace fw
