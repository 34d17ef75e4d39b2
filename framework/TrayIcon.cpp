#include "framework/TrayIcon.h"

#include "framework/Application.h"
#include "framework/Dpi.h"
#include "framework/Forms.h"
#include "framework/ImgList.h"
#include "framework/Menus.h"
#include "framework/Text.h"

namespace fw {

namespace {

template <size_t N>
void CopyCut(wchar_t (&ADest)[N], std::wstring_view AText, size_t AMax)
{
    static_assert(N > 0);
    std::wstring_view cut = CutUtf16(AText, AMax < N ? AMax : N - 1);
    cut.copy(ADest, cut.size());
    ADest[cut.size()] = L'\0';
}

TShiftState CurrentShift() noexcept
{
    TShiftState s;
    s.Shift = GetKeyState(VK_SHIFT) < 0;
    s.Ctrl = GetKeyState(VK_CONTROL) < 0;
    s.Alt = GetKeyState(VK_MENU) < 0;
    return s;
}

} // namespace

TTrayIcon::TTrayIcon(TComponent* AOwner) : FOwner(AOwner)
{
    FWindow = std::make_unique<TMessageWindow>(
        L"TTrayIcon", [this](UINT m, WPARAM w, LPARAM l, LRESULT& r) { return WndProc(m, w, l, r); });
    FTaskbarCreated = RegisterWindowMessageW(L"TaskbarCreated");
    FData.cbSize = sizeof(FData);
    FData.hWnd = FWindow->Handle();
    FData.uID = 1;
    FData.uCallbackMessage = KCallbackMessage;
    FData.uFlags = NIF_MESSAGE | NIF_ICON;
}

TTrayIcon::~TTrayIcon()
{
    SetVisible(false);
}

void TTrayIcon::SetVisible(bool AVisible)
{
    if (AVisible == FVisible) return;
    FVisible = AVisible;
    if (FVisible) {
        LoadIcon();
        Notify(NIM_ADD);
    } else {
        Notify(NIM_DELETE);
    }
}

void TTrayIcon::SetIcons(TImageList* AIcons)
{
    FIcons = AIcons;
    LoadIcon();
    if (FVisible) Notify(NIM_MODIFY);
}

void TTrayIcon::SetIconIndex(int AIndex)
{
    if (AIndex == FIconIndex) return;
    FIconIndex = AIndex;
    LoadIcon();
    if (FVisible) Notify(NIM_MODIFY);
}

void TTrayIcon::SetHint(const std::wstring& AHint)
{
    if (AHint == FHint) return;
    FHint = AHint;
    CopyCut(FData.szTip, FHint, KMaxTip);
    if (FHint.empty())
        FData.uFlags &= ~NIF_TIP;
    else
        FData.uFlags |= NIF_TIP;
    if (FVisible) Notify(NIM_MODIFY);
}

void TTrayIcon::ShowBalloonHint()
{
    CopyCut(FData.szInfo, BalloonHint, KMaxBalloonText);
    CopyCut(FData.szInfoTitle, BalloonTitle, KMaxBalloonTitle);
    FData.uTimeout = BalloonTimeout;
    FData.dwInfoFlags = BalloonFlags;
    FData.uFlags |= NIF_INFO;
    if (FVisible) Notify(NIM_MODIFY);
    // One balloon per request: left set, the flag would make every later
    // change of image or tip show this balloon again, stale and unasked
    // (the shell does not always report the balloon gone).
    FData.uFlags &= ~NIF_INFO;
}

int TTrayIcon::ShellIconSize(UINT ADpi) const
{
    using TGetSystemMetricsForDpi = int(WINAPI*)(int, UINT);
    static const auto forDpi = reinterpret_cast<TGetSystemMetricsForDpi>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetSystemMetricsForDpi")));
    UINT dpi = ADpi ? ADpi : WindowDpi(FWindow->Handle());
    int size = forDpi ? forDpi(SM_CXSMICON, dpi) : MulDiv(GetSystemMetrics(SM_CXSMICON), static_cast<int>(dpi), 96);
    return size > 0 ? size : 16;
}

void TTrayIcon::LoadIcon(UINT ADpi)
{
    // The shell shows the icon at its small-icon size; handing it the image
    // drawn for that size keeps it crisp at every scale.
    FIconSize = ShellIconSize(ADpi);
    FData.hIcon = FIcons ? FIcons->GetIconForSize(FIconIndex, FIconSize) : nullptr;
}

bool TTrayIcon::Notify(DWORD AMessage)
{
    // A refusal by the shell is not an error of ours; the next change is sent anew.
    return Shell_NotifyIconW(AMessage, &FData) != FALSE;
}

void TTrayIcon::MouseUp(TMouseButton AButton)
{
    // The shell may deliver a click while the owner is still being built
    // (our own calls to the shell let it in): it is too early to act on.
    if (auto* form = dynamic_cast<TForm*>(FOwner); form && form->Creating()) return;
    POINT cursor{};
    GetCursorPos(&cursor);
    if (OnMouseUp) OnMouseUp(this, AButton, CurrentShift(), cursor.x, cursor.y);
    if (AButton != TMouseButton::mbRight || !PopupMenu) return;
    SetForegroundWindow(Application->Handle());
    Application->ProcessMessages();
    PopupMenu->AutoPopup = false;
    PopupMenu->PopupComponent = FOwner;
    PopupMenu->Popup(cursor.x, cursor.y);
}

bool TTrayIcon::WndProc(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult)
{
    AResult = 0;
    if (AMsg == KCallbackMessage) {
        switch (LOWORD(ALParam)) {
        case WM_LBUTTONUP: MouseUp(TMouseButton::mbLeft); break;
        case WM_RBUTTONUP: MouseUp(TMouseButton::mbRight); break;
        case WM_MBUTTONUP: MouseUp(TMouseButton::mbMiddle); break;
        case NIN_BALLOONHIDE:
        case NIN_BALLOONTIMEOUT:
        case NIN_BALLOONUSERCLICK: FData.uFlags &= ~NIF_INFO; break;
        default: break;
        }
        return true;
    }
    if (AMsg == FTaskbarCreated && FTaskbarCreated != 0) {
        if (FVisible) Notify(NIM_ADD);
        return true;
    }
    switch (AMsg) {
    case WM_DPICHANGED:
        // The message carries the new DPI (both halves alike); a query made
        // now need not answer it yet.
        if (UINT dpi = HIWORD(AWParam); FVisible && dpi && ShellIconSize(dpi) != FIconSize) {
            LoadIcon(dpi);
            Notify(NIM_MODIFY);
        }
        return false;
    case WM_DISPLAYCHANGE:
    case WM_SETTINGCHANGE:
        if (FVisible && ShellIconSize() != FIconSize) {
            LoadIcon();
            Notify(NIM_MODIFY);
        }
        return false;
    case WM_QUERYENDSESSION: AResult = 1; return true;
    case WM_ENDSESSION:
        if (AWParam) Notify(NIM_DELETE);
        return true;
    default: return false;
    }
}

} // namespace fw
