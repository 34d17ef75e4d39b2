#pragma once
// The form: a top-level window owned by the application object, with its
// OnCreate and OnDestroy events.
#include <windows.h>

#include <memory>
#include <string>

#include "framework/Classes.h"
#include "framework/Window.h"

namespace fw {

class TApplication;

class TForm : public TComponent {
public:
    TForm(TApplication& AOwner, const wchar_t* AClassName, const wchar_t* ACaption);
    ~TForm() override;

    HWND Handle() const noexcept { return FWindow->Handle(); }
    TApplication& Owner() const noexcept { return FOwner; }

    TNotifyEvent OnCreate;
    TNotifyEvent OnDestroy;

    // Closing the main form ends the message loop; any other form is hidden.
    void Close();

    // Runs OnCreate; called once the form and its components exist.
    void DoCreate();
    // Runs OnDestroy once, before the form's components go away.
    void DoDestroy();

private:
    bool WndProc(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult);

    TApplication& FOwner;
    std::unique_ptr<TMessageWindow> FWindow;
    bool FDestroying = false;
};

} // namespace fw
