#pragma once
// The controls of a dialog form: windowless labels and images, which the
// form's control host (ControlHost.h) paints in declaration order, and the
// system's check box and button, which are windows of their own and lie
// above them.
#include <windows.h>
#include <commctrl.h>

#include <string>

#include "framework/Classes.h"
#include "framework/Forms.h"
#include "framework/Graphics.h"
#include "framework/Handles.h"

namespace fw {

class TDialogForm;

class TControl : public TComponent {
public:
    explicit TControl(TDialogForm& AParent);

    int Left = 0, Top = 0, Width = 0, Height = 0;
    TFont Font;
    // The theme's text colour replaces the font colour unless this is off.
    bool StyleFontColor = true;
    bool HandPoint = false;

    TNotifyEvent OnClick;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;

    RECT BoundsRect() const noexcept { return {Left, Top, Left + Width, Top + Height}; }
    void SetBounds(int ALeft, int ATop, int AWidth, int AHeight);
    // The colour text is drawn in: the theme's, or the font's own.
    COLORREF TextColor() const;
    void Invalidate() const;

    // Keeps the current position, size and font height as the design that
    // every scaling starts from, so scaling to one DPI after another never
    // piles up rounding.
    void KeepDesign() noexcept;
    // Position, size and font height := the design's times AMultiplier / ADivisor.
    virtual void ScaleFromDesign(int AMultiplier, int ADivisor);
    virtual bool Windowless() const noexcept { return true; }
    virtual void Paint(HDC) {}

protected:
    virtual void BoundsChanged() {}
    TDialogForm& FParent;

private:
    struct TDesign {
        int Left = 0, Top = 0, Width = 0, Height = 0, FontHeight = 0;
    } FDesign;
};

enum class TAlignment { taLeftJustify, taRightJustify };

class TLabel : public TControl {
public:
    using TControl::TControl;

    const std::wstring& Caption() const noexcept { return FCaption; }
    void SetCaption(const std::wstring& ACaption);
    // With AutoSize the label fits its text; right-aligned labels keep their right edge.
    bool AutoSize = true;
    TAlignment Alignment = TAlignment::taLeftJustify;
    void SetFontColor(COLORREF AColor);

    void AdjustSize();
    // A label that fits its text fits it again in the scaled font.
    void ScaleFromDesign(int AMultiplier, int ADivisor) override;
    void Paint(HDC ADC) override;

private:
    std::wstring FCaption;
};

// Its picture is drawn at the picture's own size: scaling moves and sizes
// the box only.
class TImage : public TControl {
public:
    using TControl::TControl;
    TPicture Picture;
    bool Center = false;
    void Paint(HDC ADC) override;
};

// A control that is a window of the system's "Button" class, a child of the
// form: assistive technology and the dialog manager know it by its class,
// style, text and state. Under a theme it is drawn through custom draw.
class TWinControl : public TControl {
public:
    HWND Handle() const noexcept { return FHandle.Get(); }
    bool Windowless() const noexcept override { return false; }
    UINT Id() const noexcept { return FId; }
    std::wstring Caption() const;

    // What the form passes on from its child: a custom-draw notification
    // (the result is the form's answer) and a click.
    virtual LRESULT CustomDraw(const NMCUSTOMDRAW& ADraw) = 0;
    virtual void Clicked() {}

protected:
    TWinControl(TDialogForm& AParent, DWORD AStyle, const std::wstring& ACaption);
    void BoundsChanged() override;
    // Paints what lies beneath the control on the form, in the control's coordinates.
    void PaintParentBackground(HDC ADC);
    HFONT FontHandle() const noexcept { return FFont.Get(); }

private:
    UINT FId;
    TWindowHandle FHandle;
    TFontHandle FFont;
    int FFontHeight = 0;
};

class TButton : public TWinControl {
public:
    TButton(TDialogForm& AParent, const std::wstring& ACaption, bool ADefault = false);
    int ModalResult = mrNone; // what the dialog answers when this button is pressed
    bool Default() const noexcept { return FDefault; }
    bool Cancel = false; // Esc presses it
    void Click();

    LRESULT CustomDraw(const NMCUSTOMDRAW& ADraw) override;
    void Clicked() override { Click(); }

private:
    bool FDefault;
};

// A check box whose window text names it for assistive technology, while
// what the user reads is a label of the form lying inside its rectangle: the
// box draws what lies beneath it, never its own text.
class TCheckBox : public TWinControl {
public:
    TCheckBox(TDialogForm& AParent, const std::wstring& AAccessibleName);
    bool Checked() const noexcept;
    // Sets the state without raising OnClick.
    void SetChecked(bool AChecked);

    LRESULT CustomDraw(const NMCUSTOMDRAW& ADraw) override;
    void Clicked() override;
};

} // namespace fw
