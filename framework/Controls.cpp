#include "framework/Controls.h"

#include <algorithm>

#include "framework/Forms.h"
#include "framework/Styles.h"

namespace fw {

namespace {

const TStyle* Style() noexcept
{
    return TStyleManager::ActiveStyle();
}

COLORREF StyleColor(TStyleColor AColor, int ASystemColor)
{
    const TStyle* style = Style();
    return style ? style->Color(AColor) : GetSysColor(ASystemColor);
}

void FillColor(HDC ADC, const RECT& ARect, COLORREF AColor)
{
    TBrushHandle brush(CreateSolidBrush(AColor));
    FillRect(ADC, &ARect, brush.Get());
}

void FrameColor(HDC ADC, const RECT& ARect, COLORREF AColor, int AWidth)
{
    RECT r = ARect;
    for (int i = 0; i < AWidth; ++i) {
        TBrushHandle brush(CreateSolidBrush(AColor));
        FrameRect(ADC, &r, brush.Get());
        InflateRect(&r, -1, -1);
    }
}

} // namespace

// ---- TControl ----

TControl::TControl(TForm& AParent) : FParent(AParent)
{
    FParent.AddControl(this);
}

void TControl::SetBounds(int ALeft, int ATop, int AWidth, int AHeight)
{
    Invalidate();
    Left = ALeft;
    Top = ATop;
    Width = AWidth;
    Height = AHeight;
    BoundsChanged();
    Invalidate();
}

COLORREF TControl::TextColor() const
{
    if (StyleFontColor || Font.Color == CLR_INVALID) {
        if (const TStyle* style = Style(); style && StyleFontColor) return style->Color(TStyleColor::WindowText);
        if (Font.Color == CLR_INVALID) return GetSysColor(COLOR_WINDOWTEXT);
    }
    return Font.Color;
}

void TControl::Invalidate() const
{
    RECT r = BoundsRect();
    InvalidateRect(FParent.Handle(), &r, FALSE);
}

void TControl::ScaleBy(int AMultiplier, int ADivisor)
{
    Font.Height = MulDiv(Font.Height, AMultiplier, ADivisor);
    SetBounds(MulDiv(Left, AMultiplier, ADivisor), MulDiv(Top, AMultiplier, ADivisor),
              MulDiv(Width, AMultiplier, ADivisor), MulDiv(Height, AMultiplier, ADivisor));
}

// ---- TLabel ----

void TLabel::SetCaption(const std::wstring& ACaption)
{
    FCaption = ACaption;
    AdjustSize();
    Invalidate();
}

void TLabel::SetFontColor(COLORREF AColor)
{
    Font.Color = AColor;
    Invalidate();
}

void TLabel::AdjustSize()
{
    if (!AutoSize) return;
    TWindowDC dc(FParent.Handle());
    TFontHandle font = Font.Create();
    TSelectObject select(dc.Get(), font.Get());
    RECT text{};
    DrawTextW(dc.Get(), FCaption.c_str(), -1, &text, DT_SINGLELINE | DT_CALCRECT | DT_NOPREFIX);
    int right = Left + Width;
    int width = text.right - text.left;
    int left = Alignment == TAlignment::taRightJustify ? right - width : Left;
    SetBounds(left, Top, width, text.bottom - text.top);
}

void TLabel::ScaleBy(int AMultiplier, int ADivisor)
{
    TControl::ScaleBy(AMultiplier, ADivisor);
    AdjustSize();
}

void TLabel::Paint(HDC ADC)
{
    TFontHandle font = Font.Create();
    TSelectObject select(ADC, font.Get());
    SetBkMode(ADC, TRANSPARENT);
    SetTextColor(ADC, TextColor());
    RECT r = BoundsRect();
    UINT format = DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP |
                  (Alignment == TAlignment::taRightJustify ? DT_RIGHT : DT_LEFT);
    DrawTextW(ADC, FCaption.c_str(), -1, &r, format);
}

// ---- TImage ----

void TImage::Paint(HDC ADC)
{
    int x = Left, y = Top;
    if (Center) {
        x += (Width - Picture.Width()) / 2;
        y += (Height - Picture.Height()) / 2;
    }
    Picture.Draw(ADC, x, y);
}

// ---- TWinControl ----

TWinControl::TWinControl(TForm& AParent) : TControl(AParent), FId(AParent.NextControlId()) {}

void TWinControl::CreateHandle(const wchar_t* AClassName, const std::wstring& ACaption)
{
    FWindow = std::make_unique<TMessageWindow>(
        AClassName, [this](UINT m, WPARAM w, LPARAM l, LRESULT& r) { return WndProc(m, w, l, r); },
        WS_CHILD | WS_VISIBLE | WS_TABSTOP, 0, FParent.Handle(), ACaption.c_str(), FId);
}

void TWinControl::BoundsChanged()
{
    SetWindowPos(Handle(), nullptr, Left, Top, Width, Height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWinControl::PaintParentBackground(HDC ADC)
{
    FParent.PaintWindowless(ADC, POINT{Left, Top});
}

bool TWinControl::WndProc(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult)
{
    AResult = 0;
    if (ControlMessage(AMsg, AWParam, ALParam, AResult)) return true;
    switch (AMsg) {
    case WM_GETDLGCODE:
        AResult = DialogCode();
        return true;
    case WM_ERASEBKGND:
        AResult = 1;
        return true;
    case WM_PAINT: {
        TPaintDC dc(Handle());
        PaintControl(dc.Get());
        return true;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_UPDATEUISTATE:
        Redraw();
        return false;
    case WM_SETCURSOR:
        if (!HandPoint) return false;
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        AResult = TRUE;
        return true;
    case WM_LBUTTONDOWN:
        MousePressed = true;
        SetCapture(Handle());
        SetFocus(Handle());
        Redraw();
        return true;
    case WM_LBUTTONUP: {
        bool wasPressed = std::exchange(MousePressed, false);
        ReleaseCapture();
        Redraw();
        POINT p{static_cast<short>(LOWORD(ALParam)), static_cast<short>(HIWORD(ALParam))};
        RECT r{0, 0, Width, Height};
        if (wasPressed && PtInRect(&r, p)) Activate();
        return true;
    }
    case WM_KEYUP:
        if (AWParam == VK_SPACE) Activate();
        return true;
    case BM_CLICK:
        Activate();
        return true;
    default:
        return false;
    }
}

// ---- TButton ----

TButton::TButton(TForm& AParent, const std::wstring& ACaption) : TWinControl(AParent)
{
    CreateHandle(L"TButton", ACaption);
}

void TButton::Click()
{
    if (OnClick) OnClick(this);
    if (ModalResult != 0) FParent.ModalResult = ModalResult;
}

UINT TButton::DialogCode() const noexcept
{
    return DLGC_BUTTON | (Default ? DLGC_DEFPUSHBUTTON : DLGC_UNDEFPUSHBUTTON);
}

void TButton::PaintControl(HDC ADC)
{
    RECT r{0, 0, Width, Height};
    bool focused = GetFocus() == Handle();
    wchar_t caption[128] = {};
    GetWindowTextW(Handle(), caption, 128);
    const TStyle* style = Style();
    if (style) {
        PaintParentBackground(ADC);
        COLORREF face = style->Color(FHot || MousePressed ? TStyleColor::ButtonHover : TStyleColor::ButtonFace);
        FillColor(ADC, r, face);
        FrameColor(ADC, r, style->Color(focused ? TStyleColor::MenuHighlight : TStyleColor::Border),
                   focused ? 2 : 1);
    } else {
        DrawFrameControl(ADC, &r, DFC_BUTTON, DFCS_BUTTONPUSH | (MousePressed && FHot ? DFCS_PUSHED : 0));
    }
    TFontHandle font = Font.Create();
    TSelectObject select(ADC, font.Get());
    SetBkMode(ADC, TRANSPARENT);
    SetTextColor(ADC, StyleColor(TStyleColor::ButtonText, COLOR_BTNTEXT));
    bool cues = !(SendMessageW(Handle(), WM_QUERYUISTATE, 0, 0) & UISF_HIDEACCEL);
    DrawTextW(ADC, caption, -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | (cues ? 0 : DT_HIDEPREFIX));
    if (focused && !style) {
        RECT f = r;
        InflateRect(&f, -4, -4);
        DrawFocusRect(ADC, &f);
    }
}

bool TButton::ControlMessage(UINT AMsg, WPARAM, LPARAM, LRESULT&)
{
    switch (AMsg) {
    case WM_MOUSEMOVE:
        if (!FHot) {
            FHot = true;
            TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, Handle(), 0};
            TrackMouseEvent(&track);
            Redraw();
        }
        return true;
    case WM_MOUSELEAVE:
        FHot = false;
        Redraw();
        return true;
    default:
        return false;
    }
}

// ---- TCheckBox ----

TCheckBox::TCheckBox(TForm& AParent) : TWinControl(AParent)
{
    CreateHandle(L"TCheckBox", L"");
}

void TCheckBox::SetChecked(bool AChecked)
{
    if (AChecked == FChecked) return;
    FChecked = AChecked;
    Redraw();
}

void TCheckBox::Activate()
{
    SetChecked(!FChecked);
    if (OnClick) OnClick(this);
}

void TCheckBox::PaintControl(HDC ADC)
{
    // What lies beneath shows through: the caption the user reads is the
    // form's label drawn inside our rectangle.
    PaintParentBackground(ADC);
    int size = std::max(13, MulDiv(Height, 13, 26));
    RECT box{1, (Height - size) / 2, 1 + size, (Height - size) / 2 + size};
    if (const TStyle* style = Style()) {
        FillColor(ADC, box, style->Color(TStyleColor::MenuBackground));
        FrameColor(ADC, box, style->Color(TStyleColor::Border), std::max(1, size / 13));
        if (FChecked) {
            TPenHandle pen(CreatePen(PS_SOLID, std::max(2, size / 7), style->Color(TStyleColor::MenuCheck)));
            TSelectObject select(ADC, pen.Get());
            int u = size / 6;
            POINT tick[3] = {{box.left + u + 1, box.top + size / 2},
                             {box.left + size / 2 - u / 2, box.bottom - u - 2},
                             {box.right - u - 1, box.top + u + 1}};
            Polyline(ADC, tick, 3);
        }
    } else {
        DrawFrameControl(ADC, &box, DFC_BUTTON, DFCS_BUTTONCHECK | (FChecked ? DFCS_CHECKED : 0));
    }
    if (GetFocus() == Handle() && !(SendMessageW(Handle(), WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)) {
        RECT f = box;
        InflateRect(&f, 2, 2);
        DrawFocusRect(ADC, &f);
    }
}

bool TCheckBox::ControlMessage(UINT AMsg, WPARAM, LPARAM, LRESULT& AResult)
{
    if (AMsg != BM_GETCHECK) return false;
    AResult = FChecked ? BST_CHECKED : BST_UNCHECKED;
    return true;
}

} // namespace fw
