#pragma once
// The form: a top-level window owned by the application object, with its
// OnCreate and OnDestroy events. A dialog form also paints its windowless
// controls, hosts its windowed ones and can be shown modally.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/Handles.h"
#include "framework/Window.h"

namespace fw {

class TApplication;
class TButton;
class TControl;
class TWinControl;

enum class TFormKind {
    fkHidden, // never shown: the main window of a tray program
    fkDialog, // fixed frame, close box only, always on top
};

class TForm : public TComponent {
public:
    TForm(TApplication& AOwner, const wchar_t* AClassName, const wchar_t* ACaption,
          TFormKind AKind = TFormKind::fkHidden);
    ~TForm() override;

    HWND Handle() const noexcept { return FWindow->Handle(); }
    TApplication& Owner() const noexcept { return FOwner; }

    TNotifyEvent OnCreate;
    TNotifyEvent OnDestroy;

    // Closing the main form ends the message loop; closing a modal form ends
    // its modal loop with result 2; any other form is hidden.
    void Close();

    // Runs OnCreate; an exception there is reported and the form goes on
    // with what ran.
    void DoCreate();
    // Runs OnDestroy once, before the form's components go away.
    void DoDestroy();
    // True until OnCreate has run: the form's components take no user input
    // yet (a click could otherwise act on a half-built menu).
    bool Creating() const noexcept { return FCreating; }

    // ---- dialog forms ----
    int ClientWidth() const noexcept { return FClientWidth; }
    int ClientHeight() const noexcept { return FClientHeight; }
    void SetClientSize(int AWidth, int AHeight);
    // The scale factor the form was brought to: its pixels per inch / 96.
    float ScaleFactor() const noexcept { return FScaleFactor; }
    // Scales the form and every control to the window's current DPI.
    void ScaleForDpi();

    int ModalResult = 0;
    // Shows the form centred on the screen and runs a message loop until it
    // has a modal result; other visible windows of the program are disabled.
    int ShowModal();
    // Asks for destruction once the message loop next gets to it.
    void Release();

    COLORREF BackgroundColor() const;
    // Paints the background and the windowless controls into ADC, whose
    // origin is the client point AOrigin (for children painting what lies
    // beneath them).
    void PaintWindowless(HDC ADC, POINT AOrigin);

private:
    friend class TControl;
    friend class TWinControl;
    void AddControl(TControl* AControl) { FControls.push_back(AControl); }
    UINT NextControlId() noexcept { return FNextId++; }

    bool WndProc(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult);
    bool DialogMessage(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult);
    void Paint();
    TControl* WindowlessAt(POINT APoint) const;
    void SetHover(TControl* AControl);
    TButton* FindButton(bool ADefault, bool ACancel) const;
    TWinControl* FindWindowed(HWND AWnd, UINT AId = 0) const;

    TApplication& FOwner;
    TFormKind FKind;
    std::unique_ptr<TMessageWindow> FWindow;
    std::vector<TControl*> FControls; // declaration order: the stacking order
    TControl* FHover = nullptr;
    TBrushHandle FBackgroundBrush; // handed to controls for what they draw themselves
    TControl* FPressed = nullptr;
    int FClientWidth = 0, FClientHeight = 0;
    float FScaleFactor = 1.0f;
    bool FModal = false;
    bool FCreating = true;
    bool FDestroying = false;
    UINT FNextId = 100;
};

} // namespace fw
