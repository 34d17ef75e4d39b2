#include "framework/Forms.h"

#include <commctrl.h>

#include <algorithm>

#include "framework/Application.h"
#include "framework/Controls.h"
#include "framework/Dpi.h"
#include "framework/Styles.h"
#include "framework/ThemePaint.h"

namespace fw {

namespace {

// Enter and Esc count only without Shift, Ctrl or Alt. They are held back
// before the dialog manager sees them, so a click with a modifier still counts.
bool ModifiedEnterOrEsc(const MSG& AMsg) noexcept
{
    switch (AMsg.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_CHAR:
    case WM_SYSCHAR:
        // VK_RETURN and VK_ESCAPE are also the characters the keys type.
        return (AMsg.wParam == VK_RETURN || AMsg.wParam == VK_ESCAPE) && GetShiftState().Any();
    default:
        return false;
    }
}

} // namespace

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

TDialogForm::TDialogForm(TApplication& AOwner) : TForm(AOwner) {}

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
    for (TControl* control : FControls) control->ScaleBy(dpi, static_cast<int>(KDesignDpi));
    SetClientSize(fw::ScaleForDpi(FClientWidth, static_cast<UINT>(dpi)), fw::ScaleForDpi(FClientHeight, static_cast<UINT>(dpi)));
}

COLORREF TDialogForm::BackgroundColor() const
{
    const TStyle* style = TStyleManager::ActiveStyle();
    return style ? style->Color(TStyleColor::Window) : GetSysColor(COLOR_BTNFACE);
}

void TDialogForm::PaintWindowless(HDC ADC, POINT AOrigin)
{
    POINT old{};
    SetWindowOrgEx(ADC, AOrigin.x, AOrigin.y, &old);
    RECT client{0, 0, FClientWidth, FClientHeight};
    GetClientRect(Handle(), &client);
    TBrushHandle background(CreateSolidBrush(BackgroundColor()));
    FillRect(ADC, &client, background.Get());
    for (TControl* control : FControls)
        if (control->Windowless()) control->Paint(ADC);
    SetWindowOrgEx(ADC, old.x, old.y, nullptr);
}

void TDialogForm::Paint()
{
    TPaintDC paint(Handle());
    HDC dc = paint.Get();
    RECT client;
    GetClientRect(Handle(), &client);
    // Drawn off screen first so labels never flicker over the background.
    TMemoryDC memory(CreateCompatibleDC(dc));
    TBitmapHandle bitmap(CreateCompatibleBitmap(dc, client.right, client.bottom));
    {
        TSelectObject select(memory.Get(), bitmap.Get());
        PaintWindowless(memory.Get(), POINT{0, 0});
        BitBlt(dc, 0, 0, client.right, client.bottom, memory.Get(), 0, 0, SRCCOPY);
    }
}

TControl* TDialogForm::WindowlessAt(POINT APoint) const
{
    // The topmost windowless control under the point: the last declared.
    for (auto it = FControls.rbegin(); it != FControls.rend(); ++it) {
        RECT r = (*it)->BoundsRect();
        if ((*it)->Windowless() && PtInRect(&r, APoint)) return *it;
    }
    return nullptr;
}

void TDialogForm::SetHover(TControl* AControl)
{
    if (AControl == FHover) return;
    TControl* old = std::exchange(FHover, AControl);
    if (old && old->OnMouseLeave) old->OnMouseLeave(old);
    if (FHover && FHover->OnMouseEnter) FHover->OnMouseEnter(FHover);
}

TButton* TDialogForm::FindButton(bool ADefault, bool ACancel) const
{
    for (TControl* control : FControls) {
        auto* button = dynamic_cast<TButton*>(control);
        if (button && ((ADefault && button->Default()) || (ACancel && button->Cancel))) return button;
    }
    return nullptr;
}

TWinControl* TDialogForm::FindWindowed(HWND AWnd, UINT AId) const
{
    for (TControl* control : FControls) {
        auto* windowed = dynamic_cast<TWinControl*>(control);
        if (windowed && ((AWnd && windowed->Handle() == AWnd) || (AId && windowed->Id() == AId))) return windowed;
    }
    return nullptr;
}

bool TDialogForm::HostMessage(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult)
{
    return DialogMessage(AMsg, AWParam, ALParam, AResult) || TForm::HostMessage(AMsg, AWParam, ALParam, AResult);
}

bool TDialogForm::DialogMessage(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult)
{
    AResult = 0;
    POINT point{static_cast<short>(LOWORD(ALParam)), static_cast<short>(HIWORD(ALParam))};
    switch (AMsg) {
    case WM_ERASEBKGND:
        AResult = 1;
        return true;
    case WM_PAINT:
        Paint();
        return true;
    case WM_MOUSEMOVE: {
        SetHover(WindowlessAt(point));
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, Handle(), 0};
        TrackMouseEvent(&track);
        return true;
    }
    case WM_MOUSELEAVE:
        SetHover(nullptr);
        return true;
    case WM_LBUTTONDOWN:
        FPressed = WindowlessAt(point);
        return true;
    case WM_LBUTTONUP: {
        TControl* control = WindowlessAt(point);
        bool click = control && control == FPressed;
        FPressed = nullptr;
        if (click && control->OnClick) control->OnClick(control);
        return true;
    }
    case WM_SETCURSOR: {
        // A child passes the question up first: the button's hand is ours to give.
        auto wnd = reinterpret_cast<HWND>(AWParam);
        TControl* control = nullptr;
        if (wnd != Handle()) {
            control = FindWindowed(wnd);
        } else if (LOWORD(ALParam) == HTCLIENT) {
            POINT cursor;
            GetCursorPos(&cursor);
            ScreenToClient(Handle(), &cursor);
            control = WindowlessAt(cursor);
        }
        if (!control || !control->HandPoint) return false;
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        AResult = TRUE;
        return true;
    }
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<const NMHDR*>(ALParam);
        TWinControl* control = header->code == NM_CUSTOMDRAW ? FindWindowed(header->hwndFrom) : nullptr;
        if (!control) return false;
        AResult = control->CustomDraw(*reinterpret_cast<const NMCUSTOMDRAW*>(ALParam));
        return true;
    }
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORSTATIC: {
        // What a control draws itself, outside custom draw, sits on our background.
        const TStyle* style = TStyleManager::ActiveStyle();
        if (!style) return false;
        AResult = FControlColor.Answer(reinterpret_cast<HDC>(AWParam), *style);
        return true;
    }
    case DM_GETDEFID:
        if (TButton* button = FindButton(true, false)) {
            AResult = MAKELRESULT(button->Id(), DC_HASDEFID);
            return true;
        }
        return false;
    case WM_COMMAND: {
        // A control was clicked, by the mouse, its key, its access key or
        // BM_CLICK; or the dialog manager reports Enter (the default button's
        // id) or Esc (IDCANCEL).
        if (HIWORD(AWParam) != BN_CLICKED) return false;
        UINT id = LOWORD(AWParam);
        TWinControl* control = id == IDCANCEL ? FindButton(false, true) : FindWindowed(nullptr, id);
        if (control) control->Clicked();
        return true;
    }
    default:
        return false;
    }
}

int TDialogForm::ShowModal()
{
    // Every other visible window of the program waits; the hidden ones (the
    // tray icon's among them) go on receiving their messages.
    std::vector<HWND> disabled;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND AWnd, LPARAM AParam) -> BOOL {
            auto* list = reinterpret_cast<std::vector<HWND>*>(AParam);
            if (IsWindowVisible(AWnd) && IsWindowEnabled(AWnd)) list->push_back(AWnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&disabled));
    std::erase(disabled, Handle());
    for (HWND wnd : disabled) EnableWindow(wnd, FALSE);
    Owner().BeginModal();

    RECT window;
    GetWindowRect(Handle(), &window);
    HMONITOR monitor = MonitorFromWindow(Handle(), MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    GetMonitorInfoW(monitor, &info);
    int w = window.right - window.left, h = window.bottom - window.top;
    SetWindowPos(Handle(), HWND_TOPMOST, (info.rcMonitor.left + info.rcMonitor.right - w) / 2,
                 (info.rcMonitor.top + info.rcMonitor.bottom - h) / 2, 0, 0, SWP_NOSIZE);
    ShowWindow(Handle(), SW_SHOW);
    SetForegroundWindow(Handle());
    if (HWND first = GetNextDlgTabItem(Handle(), nullptr, FALSE)) SetFocus(first);

    ModalResult = mrNone;
    FModal = true;
    auto dialogKeys = [this](MSG& AMsg) { return ModifiedEnterOrEsc(AMsg) || IsDialogMessageW(Handle(), &AMsg); };
    while (ModalResult == mrNone) {
        // The program is ending: the dialog closes as by its close box.
        if (!Owner().PumpStep(dialogKeys)) ModalResult = mrCancel;
    }
    FModal = false;

    for (HWND wnd : disabled)
        if (IsWindow(wnd)) EnableWindow(wnd, TRUE);
    ShowWindow(Handle(), SW_HIDE);
    Owner().EndModal();
    return ModalResult;
}

} // namespace fw
