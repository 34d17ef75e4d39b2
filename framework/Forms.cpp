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
    RECT r{0, 0, AWidth, AHeight};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_EXSTYLE)));
    SetWindowPos(Handle(), nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TDialogForm::ScaleForDpi()
{
    int dpi = static_cast<int>(WindowDpi(Handle()));
    FScaleFactor = static_cast<float>(dpi) / static_cast<float>(KDesignDpi);
    if (dpi == static_cast<int>(KDesignDpi)) return;
    ScaleControls(dpi, static_cast<int>(KDesignDpi));
    SetClientSize(fw::ScaleForDpi(FClientWidth, static_cast<UINT>(dpi)),
                  fw::ScaleForDpi(FClientHeight, static_cast<UINT>(dpi)));
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
