#include "framework/ThemePaint.h"

#include <commctrl.h>

#include "framework/Handles.h"

namespace fw {

void FillColor(HDC ADC, const RECT& ARect, COLORREF AColor)
{
    TBrushHandle brush(CreateSolidBrush(AColor));
    FillRect(ADC, &ARect, brush.Get());
}

void FrameColor(HDC ADC, const RECT& ARect, COLORREF AColor, int AWidth)
{
    TBrushHandle brush(CreateSolidBrush(AColor));
    RECT r = ARect;
    for (int i = 0; i < AWidth; ++i) {
        FrameRect(ADC, &r, brush.Get());
        InflateRect(&r, -1, -1);
    }
}

void PaintTick(HDC ADC, POINT ACenter, int AUnit, int APenWidth, COLORREF AColor)
{
    TPenHandle pen(CreatePen(PS_SOLID, APenWidth, AColor));
    TSelectObject select(ADC, pen.Get());
    int x = ACenter.x, y = ACenter.y, u = AUnit;
    POINT tick[3] = {{x - 2 * u, y}, {x - u / 2, y + 3 * u / 2}, {x + 2 * u, y - 3 * u / 2}};
    Polyline(ADC, tick, 3);
}

LRESULT TControlColor::Answer(HDC ADC, const TStyle& AStyle)
{
    COLORREF window = AStyle.Color(TStyleColor::Window);
    SetTextColor(ADC, AStyle.Color(TStyleColor::WindowText));
    SetBkColor(ADC, window);
    if (!FBrush || FColor != window) {
        FBrush.Reset(CreateSolidBrush(window));
        FColor = window;
    }
    return reinterpret_cast<LRESULT>(FBrush.Get());
}

void PaintThemedButton(HDC ADC, const RECT& ARect, const TStyle& AStyle, const TButtonLook& ALook,
                       const std::wstring& ACaption, HFONT AFont)
{
    RECT r = ARect;
    FillColor(ADC, r, AStyle.Color(ALook.Hot || ALook.Pressed ? TStyleColor::ButtonHover : TStyleColor::ButtonFace));
    FrameColor(ADC, r, AStyle.Color(ALook.Focused ? TStyleColor::MenuHighlight : TStyleColor::Border),
               ALook.Focused ? 2 : 1);
    TSelectObject font(ADC, AFont);
    SetBkMode(ADC, TRANSPARENT);
    SetTextColor(ADC, AStyle.Color(TStyleColor::ButtonText));
    DrawTextW(ADC, ACaption.c_str(), -1, &r,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | (ALook.ShowAccessKeys ? 0 : DT_HIDEPREFIX));
}

TButtonLook ButtonLookOf(HWND AButton)
{
    auto state = static_cast<UINT>(SendMessageW(AButton, BM_GETSTATE, 0, 0));
    TButtonLook look;
    look.Hot = (state & BST_HOT) != 0;
    look.Pressed = (state & BST_PUSHED) != 0;
    look.Focused = GetFocus() == AButton;
    look.ShowAccessKeys = !(SendMessageW(AButton, WM_QUERYUISTATE, 0, 0) & UISF_HIDEACCEL);
    return look;
}

std::wstring WindowText(HWND AWnd)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(AWnd)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(AWnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

void LoadCommonControls() noexcept
{
    // By name, so the manifest's activation context picks version 6; kept for
    // the life of the process, as the windows of its classes may be.
    static const TModuleHandle module(LoadLibraryW(L"comctl32.dll"));
}

} // namespace fw
