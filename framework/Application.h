#pragma once
// The application object: the hidden top-level window that stands for the
// program, the message loop with its idle step, the hand-off of worker
// requests to this thread, and the reporting of exceptions.
#include <windows.h>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/Handles.h"
#include "framework/Window.h"

namespace fw {

class TForm;

// Gives a message a look before it is translated and dispatched; true when
// it has dealt with the message (a dialog's keys, say).
using TMessageFilter = std::function<bool(MSG& AMsg)>;

class TApplication : public TComponent, public TWindow {
public:
    TApplication();
    ~TApplication() override;
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    HICON Icon() const noexcept { return FIcon; }
    const std::wstring& Title() const noexcept { return FTitle; }
    TForm* MainForm() const noexcept { return FMainForm; }
    bool Terminated() const noexcept { return FTerminated; }

    bool MainFormOnTaskBar = true;
    bool ShowMainForm = true;

    void Initialize();

    // Creates a form owned by this object; the first one becomes the main form.
    template <typename T>
    void CreateForm(T*& AReference)
    {
        auto form = std::make_unique<T>(*this);
        AReference = form.get();
        AdoptForm(std::move(form));
    }

    void Run();
    void Terminate();
    // Ends the program as closing its main form does (the Exit command), or
    // the message loop when there is no main form yet.
    void CloseMainForm();
    // Dispatches the messages waiting now, without waiting for more.
    void ProcessMessages();
    // One pass of a message loop, the same in every loop of this thread:
    // takes the next message, if any, and passes it through AFilter, then
    // translates and dispatches it; with none waiting, runs what workers have
    // handed over, or else waits for a message. False once the loop is to
    // end (WM_QUIT has been taken, here or in a loop around this one).
    bool PumpStep(const TMessageFilter& AFilter = {});

    // Destroys every form this object owns, newest first.
    void DestroyForms();
    // Destroys one form this object owns.
    void DestroyForm(TForm* AForm);
    // Destroys AForm once the message loop next gets to it.
    void ReleaseForm(TForm* AForm);

    // A modal form is shown or goes away: while one is up, this object's
    // window stands for the program in the taskbar.
    void BeginModal();
    void EndModal();

    void HandleException(const std::exception_ptr& AError);
    void ShowException(const std::exception_ptr& AError);

private:
    void AdoptForm(std::unique_ptr<TForm> AForm);
    bool WndProc(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult) override;
    // Takes and hands on one waiting message; false when none was waiting.
    bool TakeMessage(const TMessageFilter& AFilter);

    std::wstring FTitle;
    HICON FIcon = nullptr; // a shared resource icon: not destroyed
    bool FIconSet = false; // handed to the window, once it is first shown
    std::vector<std::unique_ptr<TForm>> FForms;
    TForm* FMainForm = nullptr;
    bool FTerminated = false;
    int FModalLevel = 0;
};

// The process's application object; exists from the framework's unit
// initialisation to its finalisation.
extern TApplication* Application;

void InitializeFrameworkUnit();
void FinalizeFrameworkUnit();

// The application title rule: the executable's file name without its folder,
// cut at its first ".", every character after the first in lower case.
std::wstring ApplicationTitleFromPath(const std::wstring& APath);

} // namespace fw
