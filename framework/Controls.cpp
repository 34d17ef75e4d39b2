#include "framework/Controls.h"

#include <algorithm>

#include "framework/CommonControls.h"
#include "framework/Forms.h"
#include "framework/Styles.h"
#include "framework/ThemePaint.h"

namespace fw {

namespace {

const TStyle* Style() noexcept
{
    return TStyleManager::ActiveStyle();
}

} // namespace

// ---- TControl ----

TControl::TControl(TDialogForm& AParent) : FParent(AParent)
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
    // The user's high-contrast colours win over any colour of ours.
    if (TStyleManager::HighContrast()) return GetSysColor(COLOR_WINDOWTEXT);
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

void TControl::KeepDesign() noexcept
{
    FDesign = {.Left = Left, .Top = Top, .Width = Width, .Height = Height, .FontHeight = Font.Height};
}

void TControl::ScaleFromDesign(int AMultiplier, int ADivisor)
{
    Font.Height = MulDiv(FDesign.FontHeight, AMultiplier, ADivisor);
    SetBounds(MulDiv(FDesign.Left, AMultiplier, ADivisor), MulDiv(FDesign.Top, AMultiplier, ADivisor),
              MulDiv(FDesign.Width, AMultiplier, ADivisor), MulDiv(FDesign.Height, AMultiplier, ADivisor));
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

void TLabel::ScaleFromDesign(int AMultiplier, int ADivisor)
{
    TControl::ScaleFromDesign(AMultiplier, ADivisor);
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
    int x = Left;
    int y = Top;
    if (Center) {
        x += (Width - Picture.Width()) / 2;
        y += (Height - Picture.Height()) / 2;
    }
    Picture.Draw(ADC, x, y);
}

// ---- TWinControl ----

TWinControl::TWinControl(TDialogForm& AParent, DWORD AStyle, const std::wstring& ACaption)
    : TControl(AParent), FId(AParent.NextControlId())
{
    // The system's buttons send NM_CUSTOMDRAW only when comctl32 version 6
    // is loaded as they are created.
    LoadCommonControls();
    HWND wnd = CreateWindowExW(0, L"Button", ACaption.c_str(), WS_CHILD | WS_VISIBLE | WS_TABSTOP | AStyle, 0, 0, 0, 0,
                               AParent.Handle(), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(FId)),
                               GetModuleHandleW(nullptr), nullptr);
    if (!wnd) RaiseLastOSError();
    FHandle.Reset(wnd);
}

std::wstring TWinControl::Caption() const
{
    return WindowText(Handle());
}

void TWinControl::BoundsChanged()
{
    if (Font.Height != FFontHeight || !FFont) {
        FFont = Font.Create();
        FFontHeight = Font.Height;
        SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(FFont.Get()), FALSE);
    }
    SetWindowPos(Handle(), nullptr, Left, Top, Width, Height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TWinControl::PaintParentBackground(HDC ADC)
{
    FParent.PaintWindowless(ADC, POINT{Left, Top});
}

// ---- TButton ----

TButton::TButton(TDialogForm& AParent, const std::wstring& ACaption, bool ADefault)
    : TWinControl(AParent, ADefault ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, ACaption), FDefault(ADefault)
{
}

void TButton::Click()
{
    if (OnClick) OnClick(this);
    if (ModalResult != mrNone) FParent.ModalResult = ModalResult;
}

LRESULT TButton::CustomDraw(const NMCUSTOMDRAW& ADraw)
{
    // Without a theme the system draws it, in the system's look.
    const TStyle* style = Style();
    if (!style || ADraw.dwDrawStage != CDDS_PREPAINT) return CDRF_DODEFAULT;
    RECT r{0, 0, Width, Height};
    PaintThemedButton(ADraw.hdc, r, *style, ButtonLookOf(Handle()), Caption(), FontHandle());
    return CDRF_SKIPDEFAULT;
}

// ---- TCheckBox ----

TCheckBox::TCheckBox(TDialogForm& AParent, const std::wstring& AAccessibleName)
    : TWinControl(AParent, BS_AUTOCHECKBOX, AAccessibleName)
{
}

bool TCheckBox::Checked() const noexcept
{
    return SendMessageW(Handle(), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void TCheckBox::SetChecked(bool AChecked)
{
    SendMessageW(Handle(), BM_SETCHECK, AChecked ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TCheckBox::Clicked()
{
    if (OnClick) OnClick(this);
}

LRESULT TCheckBox::CustomDraw(const NMCUSTOMDRAW& ADraw)
{
    if (ADraw.dwDrawStage != CDDS_PREPAINT) return CDRF_DODEFAULT;
    // What lies beneath shows through: the caption the user reads is the
    // form's label drawn inside our rectangle, not our own text.
    HDC dc = ADraw.hdc;
    PaintParentBackground(dc);
    int size = std::max(13, MulDiv(Height, 13, 26));
    RECT box{1, (Height - size) / 2, 1 + size, (Height - size) / 2 + size};
    bool checked = Checked();
    if (const TStyle* style = Style()) {
        FillColor(dc, box, style->Color(TStyleColor::MenuBackground));
        FrameColor(dc, box, style->Color(TStyleColor::Border), std::max(1, size / 13));
        if (checked) {
            PaintTick(dc, BoxTick(box), std::max(2, size / 7), style->Color(TStyleColor::MenuCheck));
        }
    } else {
        DrawFrameControl(dc, &box, DFC_BUTTON, DFCS_BUTTONCHECK | (checked ? DFCS_CHECKED : 0));
    }
    if (GetFocus() == Handle() && !(SendMessageW(Handle(), WM_QUERYUISTATE, 0, 0) & UISF_HIDEFOCUS)) {
        RECT f = box;
        InflateRect(&f, 2, 2);
        DrawFocusRect(dc, &f);
    }
    return CDRF_SKIPDEFAULT;
}

} // namespace fw
