#pragma once
// The notification-area icon with its tip, balloon and popup menu.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "framework/Classes.h"
#include "framework/NotifyArea.h"
#include "framework/Window.h"

namespace fw {

class TImageList;
class TPopupMenu;

enum TBalloonFlags : DWORD { bfNone = NIIF_NONE, bfInfo = NIIF_INFO, bfWarning = NIIF_WARNING, bfError = NIIF_ERROR };

// Its window stays a hidden top-level window of its own, never a message-only
// one: those miss the "TaskbarCreated" broadcast, WM_ENDSESSION and
// WM_SETTINGCHANGE.
class TTrayIcon : public TComponent, public TWindow {
public:
    static constexpr UINT KCallbackMessage = WM_USER + 1;
    static constexpr size_t KMaxTip = 127, KMaxBalloonText = 255, KMaxBalloonTitle = 63;
    // A shell that refused the icon is asked again after a delay (the services'
    // TrayRetryDelay), doubling up to this cap, until it takes it.
    static constexpr unsigned KMaxRetryDelay = 60000;

    // AOwner becomes the popup menu's PopupComponent when the menu opens; while
    // it is still being built, clicks are ignored. The icon lives in the
    // services' notification area as it is now.
    explicit TTrayIcon(TComponent* AOwner);
    ~TTrayIcon() override;
    TTrayIcon(const TTrayIcon&) = delete;
    TTrayIcon& operator=(const TTrayIcon&) = delete;

    bool Visible() const noexcept { return FVisible; }
    void SetVisible(bool AVisible);
    void SetIcons(TImageList* AIcons);
    int IconIndex() const noexcept { return FIconIndex; }
    void SetIconIndex(int AIndex);
    const std::wstring& Hint() const noexcept { return FHint; }
    void SetHint(const std::wstring& AHint);

    std::wstring BalloonTitle;
    std::wstring BalloonHint;
    unsigned BalloonTimeout = 0;
    TBalloonFlags BalloonFlags = bfNone;
    void ShowBalloonHint();

    TPopupMenu* PopupMenu = nullptr;
    TMouseEvent OnMouseUp;

    HWND Window() const noexcept { return Handle(); }

private:
    bool WndProc(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult) override;
    void MouseUp(TMouseButton AButton);
    bool Notify(DWORD AMessage);
    // Sends a change of the visible icon, or keeps it for the retry's add.
    void Update();
    void StartRetry();
    void StopRetry();
    void Retry();
    // The image for the shell's icon size at ADpi, by default the icon window's.
    void LoadIcon(UINT ADpi = 0);
    // The shell's small-icon size at ADpi (0: the icon window's DPI).
    int ShellIconSize(UINT ADpi = 0) const;

    TComponent* FOwner;
    // The area the icon was added to: all its changes go there.
    TNotifyArea& FArea;
    NOTIFYICONDATAW FData{};
    TImageList* FIcons = nullptr;
    int FIconIndex = 0;
    std::wstring FHint;
    bool FVisible = false;
    UINT FTaskbarCreated = 0;
    int FIconSize = 0;
    unsigned FFirstRetryDelay;
    unsigned FRetryDelay = 0; // 0: no retry pending
};

} // namespace fw
