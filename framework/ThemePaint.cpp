#include "framework/ThemePaint.h"

#include <commctrl.h>

#include <algorithm>

#include "framework/Dpi.h"
#include "framework/Handles.h"

namespace fw {

namespace {

// A themed menu item's measures at the design DPI.
constexpr int KMenuGutter = 24; // the check-mark column
constexpr int KMenuRightPad = 20;
constexpr int KMenuMinHeight = 22;
constexpr int KMenuLineHeight = 9;

} // namespace

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

TTick MenuTick(POINT ACenter, int AUnit)
{
    const int x = ACenter.x;
    const int y = ACenter.y;
    const int u = AUnit;
    return TTick{{{x - 2 * u, y}, {x - u / 2, y + 3 * u / 2}, {x + 2 * u, y - 3 * u / 2}}};
}

TTick BoxTick(const RECT& ABox)
{
    const int size = ABox.right - ABox.left;
    const int u = size / 6;
    return TTick{{{ABox.left + u + 1, ABox.top + size / 2},
                  {ABox.left + size / 2 - u / 2, ABox.bottom - u - 2},
                  {ABox.right - u - 1, ABox.top + u + 1}}};
}

void PaintTick(HDC ADC, const TTick& ATick, int APenWidth, COLORREF AColor)
{
    TPenHandle pen(CreatePen(PS_SOLID, APenWidth, AColor));
    TSelectObject select(ADC, pen.Get());
    Polyline(ADC, ATick.Points, 3);
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

HFONT TMenuPainter::Font(UINT ADpi)
{
    if (!FFont || FFontDpi != ADpi) {
        NONCLIENTMETRICSW metrics = NonClientMetricsForDpi(ADpi);
        FFont.Reset(CreateFontIndirectW(&metrics.lfMenuFont));
        FFontDpi = ADpi;
    }
    return FFont.Get();
}

void TMenuPainter::Measure(HWND AWnd, bool ALine, const std::wstring& AText, MEASUREITEMSTRUCT& AMeasure)
{
    UINT dpi = WindowDpi(AWnd);
    if (ALine) {
        AMeasure.itemWidth = 0;
        AMeasure.itemHeight = static_cast<UINT>(ScaleForDpi(KMenuLineHeight, dpi));
        return;
    }
    TWindowDC dc(AWnd);
    TSelectObject font(dc.Get(), Font(dpi));
    RECT text{};
    DrawTextW(dc.Get(), AText.c_str(), -1, &text, DT_SINGLELINE | DT_CALCRECT);
    // The system adds SM_CXMENUCHECK, its own check-mark column, to the width we give.
    AMeasure.itemWidth = static_cast<UINT>(ScaleForDpi(KMenuGutter + KMenuRightPad, dpi) + (text.right - text.left) -
                                           GetSystemMetrics(SM_CXMENUCHECK));
    AMeasure.itemHeight = static_cast<UINT>(
        std::max<int>(ScaleForDpi(KMenuMinHeight, dpi), text.bottom - text.top + ScaleForDpi(6, dpi)));
}

void TMenuPainter::Draw(HWND AWnd, const TStyle& AStyle, bool ALine, const std::wstring& AText,
                        const DRAWITEMSTRUCT& ADraw)
{
    UINT dpi = WindowDpi(AWnd);
    HDC dc = ADraw.hDC;
    RECT r = ADraw.rcItem;
    bool disabled = (ADraw.itemState & (ODS_DISABLED | ODS_GRAYED)) != 0;
    bool selected = (ADraw.itemState & ODS_SELECTED) != 0 && !disabled && !ALine;

    FillColor(dc, r, AStyle.Color(selected ? TStyleColor::MenuHighlight : TStyleColor::MenuBackground));

    int gutter = ScaleForDpi(KMenuGutter, dpi);
    int middle = (r.top + r.bottom) / 2;
    if (ALine) {
        RECT line{r.left + gutter / 2, middle, r.right - gutter / 2, middle + std::max(1, ScaleForDpi(1, dpi))};
        FillColor(dc, line, AStyle.Color(TStyleColor::MenuSeparator));
        return;
    }

    COLORREF text = AStyle.Color(disabled   ? TStyleColor::MenuDisabledText
                                 : selected ? TStyleColor::MenuHighlightText
                                            : TStyleColor::MenuText);
    if (ADraw.itemState & ODS_CHECKED) {
        PaintTick(dc, MenuTick(POINT{r.left + gutter / 2, middle}, std::max(1, ScaleForDpi(3, dpi))),
                  std::max(2, ScaleForDpi(2, dpi)), selected || disabled ? text : AStyle.Color(TStyleColor::MenuCheck));
    }

    TSelectObject font(dc, Font(dpi));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, text);
    RECT textRect{r.left + gutter, r.top, r.right - ScaleForDpi(KMenuRightPad, dpi) / 2, r.bottom};
    UINT format = DT_SINGLELINE | DT_VCENTER | DT_LEFT | ((ADraw.itemState & ODS_NOACCEL) ? DT_HIDEPREFIX : 0);
    DrawTextW(dc, AText.c_str(), -1, &textRect, format);
}

std::wstring WindowText(HWND AWnd)
{
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(AWnd)) + 1, L'\0');
    text.resize(static_cast<size_t>(GetWindowTextW(AWnd, text.data(), static_cast<int>(text.size()))));
    return text;
}

} // namespace fw
