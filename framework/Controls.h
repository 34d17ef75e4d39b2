#pragma once
// The controls of a dialog form: windowless labels and images painted by the
// form in declaration order, and the check box and button, which are windows
// of their own and lie above them.
#include <windows.h>

#include <memory>
#include <string>

#include "framework/Classes.h"
#include "framework/Graphics.h"
#include "framework/Window.h"

namespace fw {

class TForm;

class TControl : public TComponent {
public:
    explicit TControl(TForm& AParent);

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

    // Scales position, size and font by AMultiplier / ADivisor.
    virtual void ScaleBy(int AMultiplier, int ADivisor);
    virtual bool Windowless() const noexcept { return true; }
    virtual void Paint(HDC) {}

protected:
    virtual void BoundsChanged() {}
    TForm& FParent;
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
    void ScaleBy(int AMultiplier, int ADivisor) override;
    void Paint(HDC ADC) override;

private:
    std::wstring FCaption;
};

class TImage : public TControl {
public:
    using TControl::TControl;
    TPicture Picture;
    bool Center = false;
    void Paint(HDC ADC) override;
};

// A control that is a child window of the form. It paints itself, takes the
// focus, and is activated by a click, the space bar or BM_CLICK.
class TWinControl : public TControl {
public:
    explicit TWinControl(TForm& AParent);
    HWND Handle() const noexcept { return FWindow->Handle(); }
    bool Windowless() const noexcept override { return false; }
    UINT Id() const noexcept { return FId; }

protected:
    // Called by the most derived constructor, once the virtuals can be called.
    void CreateHandle(const wchar_t* AClassName, const std::wstring& ACaption);
    void BoundsChanged() override;
    virtual UINT DialogCode() const noexcept = 0;
    virtual void PaintControl(HDC ADC) = 0;
    virtual void Activate() = 0;
    // Messages of one kind of control; the rest are handled here.
    virtual bool ControlMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }
    // Paints what lies beneath the control on the form, in the control's coordinates.
    void PaintParentBackground(HDC ADC);
    void Redraw() const { InvalidateRect(Handle(), nullptr, FALSE); }
    bool MousePressed = false;

private:
    bool WndProc(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult);

    UINT FId;
    std::unique_ptr<TMessageWindow> FWindow;
};

class TButton : public TWinControl {
public:
    TButton(TForm& AParent, const std::wstring& ACaption);
    int ModalResult = 0;
    bool Default = false; // Enter presses it
    bool Cancel = false;  // Esc presses it
    void Click();

protected:
    UINT DialogCode() const noexcept override;
    void PaintControl(HDC ADC) override;
    void Activate() override { Click(); }
    bool ControlMessage(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult) override;

private:
    bool FHot = false;
};

class TCheckBox : public TWinControl {
public:
    explicit TCheckBox(TForm& AParent);
    bool Checked() const noexcept { return FChecked; }
    // Sets the state without raising OnClick.
    void SetChecked(bool AChecked);

protected:
    UINT DialogCode() const noexcept override { return DLGC_BUTTON; }
    void PaintControl(HDC ADC) override;
    void Activate() override;
    bool ControlMessage(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult) override;

private:
    bool FChecked = false;
};

} // namespace fw
