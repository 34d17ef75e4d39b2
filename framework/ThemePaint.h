#pragma once
// Drawing in the active theme: fills and frames, the check mark, push
// buttons (the dialog's and the themed message boxes'), the WM_CTLCOLOR*
// answer and owner-drawn popup menu items.
#include <windows.h>

#include <string>

#include "framework/Handles.h"
#include "framework/Styles.h"

namespace fw {

void FillColor(HDC ADC, const RECT& ARect, COLORREF AColor);
// A frame AWidth pixels wide just inside ARect.
void FrameColor(HDC ADC, const RECT& ARect, COLORREF AColor, int AWidth);
// A check mark: three points joined by a pen, so it scales cleanly at every
// size. A menu item centres it in its gutter; a check box fits it to its box.
struct TTick {
    POINT Points[3];
};
// Centred on ACenter, 4 x AUnit wide and 3 x AUnit high.
TTick MenuTick(POINT ACenter, int AUnit);
// Inside the square ABox, a sixth of its side from the edges.
TTick BoxTick(const RECT& ABox);
void PaintTick(HDC ADC, const TTick& ATick, int APenWidth, COLORREF AColor);

// The answer to WM_CTLCOLOR* in the theme, for what a control draws itself:
// the theme's window text on its window colour, over a brush of that colour.
// The brush lives as long as this object, since the system paints with it
// after the answer.
class TControlColor {
public:
    LRESULT Answer(HDC ADC, const TStyle& AStyle);

private:
    TBrushHandle FBrush;
    COLORREF FColor = CLR_INVALID;
};

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

// Owner-drawn popup menu items (WM_MEASUREITEM, WM_DRAWITEM) at the DPI of
// the window the menu belongs to: the highlight, the separator line, the
// check mark and the text in the system's menu font, which is kept for the
// DPI it was last made at.
class TMenuPainter {
public:
    // The size of an item showing AText, or of a separator line.
    void Measure(HWND AWnd, bool ALine, const std::wstring& AText, MEASUREITEMSTRUCT& AMeasure);
    void Draw(HWND AWnd, const TStyle& AStyle, bool ALine, const std::wstring& AText, const DRAWITEMSTRUCT& ADraw);

private:
    HFONT Font(UINT ADpi);

    TFontHandle FFont;
    UINT FFontDpi = 0;
};

// The window text of AWnd.
std::wstring WindowText(HWND AWnd);

} // namespace fw
