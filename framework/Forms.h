#pragma once
// Forms: top-level windows owned by the application object, with their
// OnCreate and OnDestroy events. A form is never shown by itself (the main
// window of a tray program), and its window also serves the timer and menu
// on it. A dialog form has a dialog's frame, hosts controls (ControlHost.h)
// and can be shown modally (ModalLoop.h).
#include <windows.h>

#include "framework/Classes.h"
#include "framework/ControlHost.h"
#include "framework/Window.h"

namespace fw {

class TApplication;

class TForm : public TComponent, public THostWindow {
public:
    explicit TForm(TApplication& AOwner);
    ~TForm() override;
    TForm(const TForm&) = delete;
    TForm& operator=(const TForm&) = delete;

    TApplication& Owner() const noexcept { return FOwner; }

    TNotifyEvent OnCreate;
    TNotifyEvent OnDestroy;

    // Closing the main form ends the message loop; any other form is hidden.
    virtual void Close();

    // Runs OnCreate; an exception there is reported and the form goes on
    // with what ran.
    void DoCreate();
    // Runs OnDestroy once, before the form's components go away.
    void DoDestroy();
    // True until OnCreate has run: the form's components take no user input
    // yet (a click could otherwise act on a half-built menu).
    bool Creating() const noexcept override { return FCreating; }

    // Asks for destruction once the message loop next gets to it.
    void Release();

protected:
    // Makes the form's window; called by the constructor of the form class.
    void CreateHandle(const wchar_t* AClassName, const wchar_t* ACaption);
    bool HostMessage(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult) override;

private:
    TApplication& FOwner;
    bool FCreating = true;
    bool FDestroying = false;
};

// Modal results: none yet; a button that says "done"; the close box (or its
// equivalents, or the program's end).
constexpr int mrNone = 0;
constexpr int mrOk = 1;
constexpr int mrCancel = 2;

class TDialogForm : public TForm, public TControlHost {
public:
    explicit TDialogForm(TApplication& AOwner);

    // A dialog shown modally closes with mrCancel; otherwise it is hidden.
    void Close() override;

    // The client size the form asks for at its DPI. After a change of DPI the
    // window has the rectangle the system suggested for that size.
    int ClientWidth() const noexcept { return FClientWidth; }
    int ClientHeight() const noexcept { return FClientHeight; }
    void SetClientSize(int AWidth, int AHeight);
    // The scale factor the form was brought to: its pixels per inch / KDesignDpi.
    float ScaleFactor() const noexcept { return FScaleFactor; }
    // Scales the form and every control to the window's current DPI. The
    // first call keeps the sizes the form and its controls have then as
    // their design, which every later scaling starts from.
    void ScaleForDpi();

    // After the form and its controls were scaled to a new DPI (the window
    // moved to a monitor of another scale), with ScaleFactor() the new one:
    // whatever a handler placed by hand is to be placed again.
    TNotifyEvent OnDpiChanged;

    int ModalResult = mrNone;
    // Shows the form centred on the screen and runs the message loop until it
    // has a modal result; other visible windows of the program are disabled.
    int ShowModal();

protected:
    // Makes the dialog's window: fixed frame, close box only, always on top.
    void CreateHandle(const wchar_t* AClassName, const wchar_t* ACaption);
    bool HostMessage(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult) override;

private:
    void KeepDesign();
    // The window's outer size for a client area of AClient with its frame at ADpi.
    SIZE WindowSizeAt(UINT ADpi, SIZE AClient) const;
    // The controls and the client size := their design scaled to ADpi.
    void ScaleTo(UINT ADpi);
    // WM_DPICHANGED: the system stretches nothing for a per-monitor aware
    // window; it suggests a window rectangle and leaves the rest to us.
    void DpiChanged(UINT ADpi, const RECT* ASuggested);

    int FClientWidth = 0, FClientHeight = 0;
    int FDesignClientWidth = 0, FDesignClientHeight = 0;
    bool FDesignKept = false;
    float FScaleFactor = 1.0f;
    bool FModal = false;
};

} // namespace fw
