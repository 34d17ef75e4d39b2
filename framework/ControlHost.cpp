#include "framework/ControlHost.h"

#include <commctrl.h>

#include <utility>

#include "framework/Controls.h"
#include "framework/Styles.h"

namespace fw {

TControlHost::TControlHost(THostWindow& AWindow) : FWindow(AWindow)
{
    FWindow.AddPart(this);
}

TControlHost::~TControlHost()
{
    FWindow.RemovePart(this);
}

void TControlHost::KeepDesign() noexcept
{
    for (TControl* control : FControls) control->KeepDesign();
}

void TControlHost::ScaleControls(int AMultiplier, int ADivisor)
{
    for (TControl* control : FControls) control->ScaleFromDesign(AMultiplier, ADivisor);
}

COLORREF TControlHost::BackgroundColor() const
{
    const TStyle* style = TStyleManager::ActiveStyle();
    return style ? style->Color(TStyleColor::Window) : GetSysColor(COLOR_BTNFACE);
}

void TControlHost::PaintWindowless(HDC ADC, POINT AOrigin)
{
    POINT old{};
    SetWindowOrgEx(ADC, AOrigin.x, AOrigin.y, &old);
    RECT client{};
    GetClientRect(FWindow.Handle(), &client);
    FillColor(ADC, client, BackgroundColor());
    for (TControl* control : FControls)
        if (control->Windowless()) control->Paint(ADC);
    SetWindowOrgEx(ADC, old.x, old.y, nullptr);
}

void TControlHost::Paint()
{
    TPaintDC paint(FWindow.Handle());
    HDC dc = paint.Get();
    RECT client;
    GetClientRect(FWindow.Handle(), &client);
    // Drawn off screen first so labels never flicker over the background.
    TMemoryDC memory(CreateCompatibleDC(dc));
    TBitmapHandle bitmap(CreateCompatibleBitmap(dc, client.right, client.bottom));
    {
        TSelectObject select(memory.Get(), bitmap.Get());
        PaintWindowless(memory.Get(), POINT{0, 0});
        BitBlt(dc, 0, 0, client.right, client.bottom, memory.Get(), 0, 0, SRCCOPY);
    }
}

TControl* TControlHost::WindowlessAt(POINT APoint) const
{
    // The topmost windowless control under the point: the last declared.
    for (auto it = FControls.rbegin(); it != FControls.rend(); ++it) {
        RECT r = (*it)->BoundsRect();
        if ((*it)->Windowless() && PtInRect(&r, APoint)) return *it;
    }
    return nullptr;
}

void TControlHost::SetHover(TControl* AControl)
{
    if (AControl == FHover) return;
    TControl* old = std::exchange(FHover, AControl);
    if (old && old->OnMouseLeave) old->OnMouseLeave(old);
    if (FHover && FHover->OnMouseEnter) FHover->OnMouseEnter(FHover);
}

TButton* TControlHost::FindButton(bool ADefault, bool ACancel) const
{
    for (TControl* control : FControls) {
        auto* button = dynamic_cast<TButton*>(control);
        if (button && ((ADefault && button->Default()) || (ACancel && button->Cancel))) return button;
    }
    return nullptr;
}

TWinControl* TControlHost::FindWindowed(HWND AWnd, UINT AId) const
{
    for (TControl* control : FControls) {
        auto* windowed = dynamic_cast<TWinControl*>(control);
        if (windowed && ((AWnd && windowed->Handle() == AWnd) || (AId && windowed->Id() == AId))) return windowed;
    }
    return nullptr;
}

bool TControlHost::PartMessage(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult)
{
    AResult = 0;
    POINT point{static_cast<short>(LOWORD(ALParam)), static_cast<short>(HIWORD(ALParam))};
    switch (AMsg) {
    case WM_ERASEBKGND: AResult = 1; return true;
    case WM_PAINT: Paint(); return true;
    case WM_MOUSEMOVE: {
        SetHover(WindowlessAt(point));
        TRACKMOUSEEVENT track{sizeof(track), TME_LEAVE, FWindow.Handle(), 0};
        TrackMouseEvent(&track);
        return true;
    }
    case WM_MOUSELEAVE: SetHover(nullptr); return true;
    case WM_LBUTTONDOWN: FPressed = WindowlessAt(point); return true;
    case WM_LBUTTONUP: {
        TControl* control = WindowlessAt(point);
        bool click = control && control == FPressed;
        FPressed = nullptr;
        if (click && control->OnClick) control->OnClick(control);
        return true;
    }
    case WM_SETCURSOR: {
        // A child's DefWindowProcW asks its parent first: the button's hand
        // cursor is ours to give.
        auto* wnd = reinterpret_cast<HWND>(AWParam);
        TControl* control = nullptr;
        if (wnd != FWindow.Handle()) {
            control = FindWindowed(wnd);
        } else if (LOWORD(ALParam) == HTCLIENT) {
            POINT cursor;
            GetCursorPos(&cursor);
            ScreenToClient(FWindow.Handle(), &cursor);
            control = WindowlessAt(cursor);
        }
        if (!control || !control->HandPoint) return false;
        SetCursor(LoadCursorW(nullptr, IDC_HAND));
        AResult = TRUE;
        return true;
    }
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(ALParam);
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
    default: return false;
    }
}

} // namespace fw
