#include "framework/Forms.h"

#include "framework/Application.h"

namespace fw {

TForm::TForm(TApplication& AOwner, const wchar_t* AClassName, const wchar_t* ACaption)
    : FOwner(AOwner)
{
    FWindow = std::make_unique<TMessageWindow>(
        AClassName, [this](UINT m, WPARAM w, LPARAM l, LRESULT& r) { return WndProc(m, w, l, r); },
        WS_OVERLAPPEDWINDOW, 0, AOwner.Handle(), ACaption);
}

TForm::~TForm() = default;

void TForm::Close()
{
    if (FOwner.MainForm() == this)
        FOwner.Terminate();
    else
        ShowWindow(Handle(), SW_HIDE);
}

void TForm::DoCreate()
{
    if (OnCreate) OnCreate(this);
}

void TForm::DoDestroy()
{
    if (FDestroying) return;
    FDestroying = true;
    if (OnDestroy) OnDestroy(this);
}

bool TForm::WndProc(UINT AMsg, WPARAM, LPARAM, LRESULT& AResult)
{
    if (AMsg == WM_CLOSE) {
        Close();
        AResult = 0;
        return true;
    }
    return false;
}

} // namespace fw
