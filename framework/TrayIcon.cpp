#include "framework/TrayIcon.h"

#include <algorithm>
#include <utility>

#include "framework/Application.h"
#include "framework/Dpi.h"
#include "framework/Handles.h"
#include "framework/ImgList.h"
#include "framework/Menus.h"
#include "framework/Services.h"
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

constexpr UINT_PTR KRetryTimer = 1;
// The shell's small-icon size at the design DPI, when the system does not say.
constexpr int KSmallIconSize = 16;

} // namespace

TTrayIcon::TTrayIcon(TComponent* AOwner)
    : FOwner(AOwner), FArea(*Services().NotifyArea), FTaskbarCreated(RegisterWindowMessageW(L"TaskbarCreated")),
      FFirstRetryDelay(std::max<unsigned>(Services().TrayRetryDelay, USER_TIMER_MINIMUM))
{
    CreateHandle(L"TTrayIcon");
    // An elevated copy would otherwise never hear of a restarted shell: UIPI
    // drops its "TaskbarCreated", which comes from a lower integrity level.
    // Should the call be refused, the icon comes back only once a change is
    // refused (the retry).
    if (FTaskbarCreated) ChangeWindowMessageFilterEx(Handle(), FTaskbarCreated, MSGFLT_ALLOW, nullptr);
    FData.cbSize = sizeof(FData);
    FData.hWnd = Handle();
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
        if (!Notify(NIM_ADD)) StartRetry();
    } else {
        StopRetry();
        Notify(NIM_DELETE);
    }
}

void TTrayIcon::SetIcons(TImageList* AIcons)
{
    FIcons = AIcons;
    LoadIcon();
    if (FVisible) Update();
}

void TTrayIcon::SetIconIndex(int AIndex)
{
    if (AIndex == FIconIndex) return;
    // The index changes only once its image is in hand: an icon that cannot
    // be loaded leaves the old state whole, for the next change to correct.
    int old = std::exchange(FIconIndex, AIndex);
    TScopeExit restore([this, old] { FIconIndex = old; });
    LoadIcon();
    restore.Release();
    if (FVisible) Update();
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
    if (FVisible) Update();
}

void TTrayIcon::ShowBalloonHint()
{
    CopyCut(FData.szInfo, BalloonHint, KMaxBalloonText);
    CopyCut(FData.szInfoTitle, BalloonTitle, KMaxBalloonTitle);
    FData.uTimeout = BalloonTimeout;
    FData.dwInfoFlags = BalloonFlags;
    FData.uFlags |= NIF_INFO;
    if (FVisible)
        Update();
    else
        FData.uFlags &= ~NIF_INFO; // a hidden icon keeps no balloon for later
}

int TTrayIcon::ShellIconSize(UINT ADpi) const
{
    UINT dpi = ADpi ? ADpi : WindowDpi(Handle());
    int size = SystemMetricForDpi(SM_CXSMICON, dpi);
    return size > 0 ? size : ScaleForDpi(KSmallIconSize, dpi);
}

void TTrayIcon::LoadIcon(UINT ADpi)
{
    // The shell shows the icon at its small-icon size; handing it the image
    // drawn for that size keeps it crisp at every scale.
    int size = ShellIconSize(ADpi);
    FData.hIcon = FIcons ? FIcons->GetIconForSize(FIconIndex, size) : nullptr;
    FIconSize = size;
}

bool TTrayIcon::Notify(DWORD AMessage)
{
    if (!FArea.Notify(AMessage, FData)) return false;
    // One balloon per request: left set, NIF_INFO would make every later
    // NIM_MODIFY of image or tip show this balloon again, stale and unasked
    // (the shell does not always send NIN_BALLOONHIDE or NIN_BALLOONTIMEOUT).
    FData.uFlags &= ~NIF_INFO;
    return true;
}

void TTrayIcon::Update()
{
    if (FRetryDelay != 0) return;
    // A shell that lost the icon (it restarted unseen, or dropped it) refuses
    // every NIM_MODIFY; the retry finds out whether the icon is still there.
    if (!Notify(NIM_MODIFY)) StartRetry();
}

void TTrayIcon::StartRetry()
{
    FRetryDelay = FFirstRetryDelay;
    if (SetTimer(Handle(), KRetryTimer, FRetryDelay, nullptr)) return;
    // SetTimer failed: the next change asks the shell again, and a balloon
    // would be stale by then.
    FRetryDelay = 0;
    FData.uFlags &= ~NIF_INFO;
}

void TTrayIcon::StopRetry()
{
    if (FRetryDelay == 0) return;
    KillTimer(Handle(), KRetryTimer);
    FRetryDelay = 0;
}

void TTrayIcon::Retry()
{
    // NIM_ADD carries every change made while waiting. A shell that refuses
    // NIM_ADD but takes NIM_MODIFY still had the icon and had refused only a
    // change: done either way.
    if (Notify(NIM_ADD) || Notify(NIM_MODIFY)) {
        StopRetry();
        return;
    }
    FRetryDelay = (FRetryDelay < KMaxRetryDelay / 2) ? FRetryDelay * 2 : KMaxRetryDelay;
    // Should SetTimer refuse the new period, the timer keeps its old one.
    SetTimer(Handle(), KRetryTimer, FRetryDelay, nullptr);
}

void TTrayIcon::MouseUp(TMouseButton AButton)
{
    // The shell may deliver a click while the owner is still being built
    // (our own calls to the shell let it in): it is too early to act on.
    if (FOwner && FOwner->Creating()) return;
    POINT cursor{};
    GetCursorPos(&cursor);
    if (OnMouseUp) OnMouseUp(this, AButton, GetShiftState(), cursor.x, cursor.y);
    if (AButton == TMouseButton::mbRight && PopupMenu) PopupMenu->PopupFor(FOwner, cursor);
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
        // "TaskbarCreated": a new shell, perhaps still busy starting. A
        // refused NIM_ADD is retried from the first delay again.
        if (!FVisible) return true;
        if (Notify(NIM_ADD))
            StopRetry();
        else
            StartRetry();
        return true;
    }
    switch (AMsg) {
    case WM_TIMER:
        if (AWParam != KRetryTimer) return false;
        if (FRetryDelay != 0) Retry(); // a tick already queued when the retry ended
        return true;
    case WM_DPICHANGED:
        // WM_DPICHANGED carries the new DPI in both halves of wParam;
        // GetDpiForWindow need not answer it yet.
        if (UINT dpi = HIWORD(AWParam); FVisible && dpi && ShellIconSize(dpi) != FIconSize) {
            LoadIcon(dpi);
            Update();
        }
        return false;
    case WM_DISPLAYCHANGE:
    case WM_SETTINGCHANGE:
        if (FVisible && ShellIconSize() != FIconSize) {
            LoadIcon();
            Update();
        }
        return false;
    case WM_QUERYENDSESSION: AResult = 1; return true;
    case WM_ENDSESSION:
        if (AWParam) {
            StopRetry();
            Notify(NIM_DELETE);
        }
        return true;
    default: return false;
    }
}

} // namespace fw
