#pragma once
// Drawing in the active theme: the pieces that the dialog's controls and the
// themed message boxes share.
#include <windows.h>

#include <string>

#include "framework/Styles.h"

namespace fw {

void FillColor(HDC ADC, const RECT& ARect, COLORREF AColor);
// A frame AWidth pixels wide just inside ARect.
void FrameColor(HDC ADC, const RECT& ARect, COLORREF AColor, int AWidth);

// A push button as the theme draws it: its face (lighter while hot or
// pressed), a frame (wider and in the highlight colour while focused) and
// its caption, with or without the access-key underline.
struct TButtonLook {
    bool Hot = false, Pressed = false, Focused = false, ShowAccessKeys = true;
};
void PaintThemedButton(HDC ADC, const RECT& ARect, const TStyle& AStyle, const TButtonLook& ALook,
                       const std::wstring& ACaption, HFONT AFont);

// What a push button window's state says about how it looks now.
TButtonLook ButtonLookOf(HWND AButton);

// The window text of AWnd.
std::wstring WindowText(HWND AWnd);

// Version 6 of the common controls, bound once on demand: the system's
// buttons send custom-draw notifications only when they are created while it
// is loaded. Nothing at start needs it.
void LoadCommonControls() noexcept;

} // namespace fw
