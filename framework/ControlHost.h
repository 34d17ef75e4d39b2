#pragma once
// The controls of a dialog form, served on the form's own window as a part
// of it: the windowless ones (labels, images) are painted by the host in
// declaration order over the background; the system's own (buttons, check
// boxes) are child windows above them, whose custom draw, WM_CTLCOLOR* and
// clicks the host answers or passes on, with the default and cancel buttons
// and the hand cursor.
#include <windows.h>

#include <vector>

#include "framework/ThemePaint.h"
#include "framework/Window.h"

namespace fw {

class TButton;
class TControl;
class TWinControl;

class TControlHost : private TWindowPart {
public:
    explicit TControlHost(THostWindow& AWindow);
    TControlHost(const TControlHost&) = delete;
    TControlHost& operator=(const TControlHost&) = delete;

    COLORREF BackgroundColor() const;
    // Paints the background and the windowless controls into ADC, whose
    // origin is the client point AOrigin (for children painting what lies
    // beneath them).
    void PaintWindowless(HDC ADC, POINT AOrigin);

protected:
    // Only as a base of the dialog form, destroyed through it.
    ~TControlHost();
    // Keeps every control's current position, size and font height as its design.
    void KeepDesign() noexcept;
    // Scales every control's position, size and font from its design by
    // AMultiplier / ADivisor.
    void ScaleControls(int AMultiplier, int ADivisor);

private:
    friend class TControl;
    friend class TWinControl;
    void AddControl(TControl* AControl) { FControls.push_back(AControl); }
    UINT NextControlId() noexcept { return FNextId++; }

    bool PartMessage(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult) override;
    void Paint();
    TControl* WindowlessAt(POINT APoint) const;
    void SetHover(TControl* AControl);
    TButton* FindButton(bool ADefault, bool ACancel) const;
    TWinControl* FindWindowed(HWND AWnd, UINT AId = 0) const;

    THostWindow& FWindow;
    std::vector<TControl*> FControls; // declaration order: the stacking order
    TControl* FHover = nullptr;
    TControl* FPressed = nullptr;
    TControlColor FControlColor;
    UINT FNextId = 100;
};

} // namespace fw
