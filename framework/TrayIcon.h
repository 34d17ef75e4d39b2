#pragma once
// The notification-area icon with its tip, balloon and popup menu.
#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "framework/Classes.h"
#include "framework/Window.h"

namespace fw {

class TImageList;
class TPopupMenu;

enum TBalloonFlags : DWORD { bfNone = NIIF_NONE, bfInfo = NIIF_INFO, bfWarning = NIIF_WARNING, bfError = NIIF_ERROR };

class TTrayIcon : public TComponent {
public:
    static constexpr UINT KCallbackMessage = WM_USER + 1;
    static constexpr size_t KMaxTip = 127, KMaxBalloonText = 255, KMaxBalloonTitle = 63;

    // AOwner becomes the popup menu's PopupComponent when the menu opens.
    explicit TTrayIcon(TComponent* AOwner);
    ~TTrayIcon() override;

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

    HWND Window() const noexcept { return FWindow->Handle(); }

private:
    bool WndProc(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult);
    void MouseUp(TMouseButton AButton);
    bool Notify(DWORD AMessage);
    // The image for the shell's icon size at ADpi, by default the icon window's.
    void LoadIcon(UINT ADpi = 0);
    // The shell's small-icon size at ADpi (0: the icon window's DPI).
    int ShellIconSize(UINT ADpi = 0) const;

    TComponent* FOwner;
    std::unique_ptr<TMessageWindow> FWindow;
    NOTIFYICONDATAW FData{};
    TImageList* FIcons = nullptr;
    int FIconIndex = 0;
    std::wstring FHint;
    bool FVisible = false;
    UINT FTaskbarCreated = 0;
    int FIconSize = 0;
};

} // namespace fw
