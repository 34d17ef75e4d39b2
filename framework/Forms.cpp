#include "framework/Forms.h"

#include "framework/Application.h"
#include "framework/Dpi.h"
#include "framework/ModalLoop.h"

namespace fw {

// ---- TForm ----

TForm::TForm(TApplication& AOwner) : FOwner(AOwner) {}

TForm::~TForm() = default;

void TForm::CreateHandle(const wchar_t* AClassName, const wchar_t* ACaption)
{
    THostWindow::CreateHandle(AClassName, WS_OVERLAPPEDWINDOW, 0, FOwner.Handle(), ACaption);
}

void TForm::Close()
{
    if (FOwner.MainForm() == this)
        FOwner.Terminate();
    else
        ShowWindow(Handle(), SW_HIDE);
}

void TForm::DoCreate()
{
    try {
        if (OnCreate) OnCreate(this);
    } catch (...) {
        FCreating = false;
        FOwner.HandleException(std::current_exception());
    }
    FCreating = false;
}

void TForm::DoDestroy()
{
    if (FDestroying) return;
    FDestroying = true;
    if (OnDestroy) OnDestroy(this);
}

void TForm::Release()
{
    FOwner.ReleaseForm(this);
}

bool TForm::HostMessage(UINT AMsg, WPARAM, LPARAM, LRESULT& AResult)
{
    if (AMsg != WM_CLOSE) return false;
    Close();
    AResult = 0;
    return true;
}

// ---- TDialogForm ----

TDialogForm::TDialogForm(TApplication& AOwner) : TForm(AOwner), TControlHost(static_cast<THostWindow&>(*this)) {}

void TDialogForm::CreateHandle(const wchar_t* AClassName, const wchar_t* ACaption)
{
    THostWindow::CreateHandle(AClassName, WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN,
                              WS_EX_DLGMODALFRAME | WS_EX_TOPMOST | WS_EX_CONTROLPARENT, Owner().Handle(), ACaption);
    // A dialog has no minimise, maximise or size entries in its window menu.
    HMENU system = GetSystemMenu(Handle(), FALSE);
    for (UINT command : {SC_MAXIMIZE, SC_MINIMIZE, SC_SIZE, SC_RESTORE}) DeleteMenu(system, command, MF_BYCOMMAND);
}

void TDialogForm::Close()
{
    if (FModal)
        ModalResult = mrCancel;
    else
        TForm::Close();
}

void TDialogForm::SetClientSize(int AWidth, int AHeight)
{
    FClientWidth = AWidth;
    FClientHeight = AHeight;
    SIZE window = WindowSizeAt(WindowDpi(Handle()), {AWidth, AHeight});
    SetWindowPos(Handle(), nullptr, 0, 0, window.cx, window.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

SIZE TDialogForm::WindowSizeAt(UINT ADpi, SIZE AClient) const
{
    // The frame is drawn at the window's DPI, which need not be the system's.
    return WindowSizeForDpi(AClient, static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_STYLE)),
                            static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_EXSTYLE)), ADpi);
}

void TDialogForm::KeepDesign()
{
    if (FDesignKept) return;
    FDesignKept = true;
    FDesignClientWidth = FClientWidth;
    FDesignClientHeight = FClientHeight;
    TControlHost::KeepDesign();
}

void TDialogForm::ScaleForDpi()
{
    KeepDesign();
    UINT dpi = WindowDpi(Handle());
    FScaleFactor = static_cast<float>(dpi) / static_cast<float>(KDesignDpi);
    if (dpi == KDesignDpi) return;
    ScaleTo(dpi);
    SetClientSize(FClientWidth, FClientHeight);
}

void TDialogForm::ScaleTo(UINT ADpi)
{
    // Always from the design, never from the sizes now: a dialog moved to a
    // monitor and back is laid out as before, and one moved to a DPI as one
    // created there.
    FScaleFactor = static_cast<float>(ADpi) / static_cast<float>(KDesignDpi);
    ScaleControls(static_cast<int>(ADpi), static_cast<int>(KDesignDpi));
    FClientWidth = fw::ScaleForDpi(FDesignClientWidth, ADpi);
    FClientHeight = fw::ScaleForDpi(FDesignClientHeight, ADpi);
}

void TDialogForm::DpiChanged(UINT ADpi, const RECT* ASuggested)
{
    // A form never scaled so far still has its design sizes.
    KeepDesign();
    ScaleTo(ADpi);
    // The suggested rectangle is sized for the new DPI and lies on the new
    // monitor; another could put the window back on the old one, which would
    // change the DPI again.
    if (ASuggested)
        SetWindowPos(Handle(), nullptr, ASuggested->left, ASuggested->top, ASuggested->right - ASuggested->left,
                     ASuggested->bottom - ASuggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    if (OnDpiChanged) OnDpiChanged(this);
    // The check box paints the label inside it as its background: the
    // children are drawn afresh too.
    RedrawWindow(Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

bool TDialogForm::HostMessage(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult)
{
    if (AMsg == WM_GETDPISCALEDSIZE) {
        // Before it suggests a rectangle for the new DPI, the system asks for
        // the size the window wants there: the design's client area at that
        // DPI, with the frame at that DPI. Left to itself it stretches the
        // whole window, frame included, and the client area comes out a pixel
        // or two off the layout.
        auto* size = reinterpret_cast<SIZE*>(ALParam);
        UINT dpi = static_cast<UINT>(AWParam);
        if (!FDesignKept || !size || dpi == 0) return false;
        *size = WindowSizeAt(dpi,
                             {fw::ScaleForDpi(FDesignClientWidth, dpi), fw::ScaleForDpi(FDesignClientHeight, dpi)});
        AResult = TRUE;
        return true;
    }
    if (AMsg != WM_DPICHANGED) return TForm::HostMessage(AMsg, AWParam, ALParam, AResult);
    UINT dpi = LOWORD(AWParam);
    if (dpi == 0) return false; // no scale to bring anything to
    DpiChanged(dpi, reinterpret_cast<const RECT*>(ALParam));
    AResult = 0;
    return true;
}

int TDialogForm::ShowModal()
{
    ModalResult = mrNone;
    FModal = true;
    // The program is ending: the dialog closes as by its close box.
    if (!RunModal(Owner(), Handle(), [this] { return ModalResult != mrNone; })) ModalResult = mrCancel;
    FModal = false;
    return ModalResult;
}

} // namespace fw
