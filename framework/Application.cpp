#include "framework/Application.h"

#include "framework/Exceptions.h"
#include "framework/FailureBoxes.h"
#include "framework/Forms.h"
#include "framework/Locale.h"
#include "framework/Modules.h"
#include "framework/Styles.h"
#include "framework/Synchronize.h"

namespace fw {

TApplication* Application = nullptr;

namespace {

constexpr wchar_t KAppWindowClass[] = L"TApplication";
constexpr UINT KReleaseMessage = WM_APP + 1;

} // namespace

std::wstring ApplicationTitleFromPath(const std::wstring& APath)
{
    std::wstring title = FileNameOf(APath);
    title = title.substr(0, title.find(L'.'));
    if (title.size() > 1) CharLowerBuffW(title.data() + 1, static_cast<DWORD>(title.size() - 1));
    return title;
}

TApplication::TApplication()
    : FTitle(ApplicationTitleFromPath(ModuleFileName())), FIcon(LoadIconW(GetModuleHandleW(nullptr), L"MAINICON"))
{
    CreateHandle(KAppWindowClass, WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX, 0, nullptr,
                 FTitle.c_str());
    SetSynchronizeWindow(Handle());
}

TApplication::~TApplication()
{
    SetSynchronizeWindow(nullptr);
    DestroyForms();
}

void TApplication::Initialize()
{
    // Nothing to do at start: COM, the one thing initialised here once, is
    // now made ready where it is first needed (see Com.h).
}

void TApplication::AdoptForm(std::unique_ptr<TForm> AForm)
{
    TForm* form = AForm.get();
    FForms.push_back(std::move(AForm));
    if (!FMainForm) FMainForm = form;
    // Reports what fails in OnCreate itself; the form goes on with what ran.
    form->DoCreate();
}

void TApplication::DestroyForm(TForm* AForm)
{
    for (auto it = FForms.begin(); it != FForms.end(); ++it) {
        if (it->get() != AForm) continue;
        std::unique_ptr<TForm> form = std::move(*it);
        FForms.erase(it);
        if (FMainForm == AForm) FMainForm = nullptr;
        form->DoDestroy();
        return;
    }
}

void TApplication::ReleaseForm(TForm* AForm)
{
    PostMessageW(Handle(), KReleaseMessage, 0, reinterpret_cast<LPARAM>(AForm));
}

void TApplication::BeginModal()
{
    if (++FModalLevel != 1 || MainFormOnTaskBar) return;
    // The window gets its icon only now: the idle program never shows it,
    // and setting it at start costs the start time.
    if (FIcon && !FIconSet) {
        SendMessageW(Handle(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(FIcon));
        SendMessageW(Handle(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(FIcon));
        FIconSet = true;
    }
    ShowWindow(Handle(), SW_SHOWNOACTIVATE);
}

void TApplication::EndModal()
{
    if (--FModalLevel == 0 && !MainFormOnTaskBar) ShowWindow(Handle(), SW_HIDE);
}

void TApplication::DestroyForms()
{
    while (!FForms.empty()) DestroyForm(FForms.back().get());
}

bool TApplication::TakeMessage(const TMessageFilter& AFilter)
{
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (msg.message == WM_QUIT) {
        FTerminated = true;
        return true;
    }
    if (AFilter && AFilter(msg)) return true;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
    return true;
}

bool TApplication::PumpStep(const TMessageFilter& AFilter)
{
    if (FTerminated) return false;
    // Idle: what workers have handed over runs before the loop waits.
    if (!TakeMessage(AFilter) && !CheckSynchronize()) WaitMessage();
    return !FTerminated;
}

void TApplication::Run()
{
    if (ShowMainForm && FMainForm) ShowWindow(FMainForm->Handle(), SW_SHOW);
    while (PumpStep()) {
    }
    // Once the loop has ended nothing handed over runs any more: the windows
    // a completion would touch are about to go, and a box shown during the
    // exit must not bring them back to life.
    CloseSynchronize();
}

void TApplication::ProcessMessages()
{
    while (!FTerminated && TakeMessage({})) {
    }
}

void TApplication::Terminate()
{
    PostQuitMessage(0);
}

void TApplication::CloseMainForm()
{
    if (FMainForm)
        FMainForm->Close();
    else
        Terminate();
}

void TApplication::HandleException(const std::exception_ptr& AError)
{
    if (!IsAbort(AError)) ShowException(AError);
}

void TApplication::ShowException(const std::exception_ptr& AError)
{
    MessageBoxW(Handle(), ExceptionBoxText(AError).c_str(), FTitle.c_str(), MB_OK | MB_ICONSTOP);
}

bool TApplication::WndProc(UINT AMsg, WPARAM, LPARAM ALParam, LRESULT& AResult)
{
    AResult = 0;
    switch (AMsg) {
    case WM_NULL: CheckSynchronize(); return true;
    case KReleaseMessage: DestroyForm(reinterpret_cast<TForm*>(ALParam)); return true;
    case WM_CLOSE:
        // Asked to close the program: close its main form, as the user would.
        if (FMainForm) FMainForm->Close();
        return true;
    case WM_SETTINGCHANGE:
        // High contrast switched on or off: the theme steps aside or comes back.
        TStyleManager::SettingsChanged();
        return false;
    default: return false;
    }
}

void InitializeFrameworkUnit()
{
    ReadStartupLocale();
    Application = new TApplication();
}

void FinalizeFrameworkUnit()
{
    delete Application;
    Application = nullptr;
}

} // namespace fw
