#pragma once
// The hidden main window: the tray icon, its menu, the connection poll.
#include <memory>
#include <string>
#include <vector>

#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/ImgList.h"
#include "framework/Menus.h"
#include "framework/TrayIcon.h"
#include "net_vpn/Net.VPN.Win.h"

namespace uMain {

class TfrmMain : public fw::TForm {
public:
    explicit TfrmMain(fw::TApplication& AOwner);
    ~TfrmMain() override;
    TfrmMain(const TfrmMain&) = delete;
    TfrmMain& operator=(const TfrmMain&) = delete;

    // Components of the form, in declaration order.
    std::unique_ptr<fw::TTrayIcon> trayMain;
    std::unique_ptr<fw::TPopupMenu> popupMain;
    fw::TMenuItem* menuVersionInfo = nullptr;
    fw::TMenuItem* menuSep1 = nullptr;
    fw::TMenuItem* menuSep2 = nullptr;
    fw::TMenuItem* menuExit = nullptr;
    fw::TMenuItem* menuOpenControlPanel = nullptr;
    std::unique_ptr<fw::TImageList> imglstIcons;
    std::unique_ptr<fw::TTimer> timerCheckConnected;
    fw::TMenuItem* menuSep3 = nullptr;
    fw::TMenuItem* menuEnableNotification = nullptr;
    fw::TMenuItem* menuConnecting = nullptr;
    fw::TMenuItem* menuDisconnecting = nullptr;

    // Event handlers.
    void FormCreate(fw::TObject* Sender);
    void FormDestroy(fw::TObject* Sender);
    void timerCheckConnectedTimer(fw::TObject* Sender);
    void trayMainMouseUp(fw::TObject* Sender, fw::TMouseButton Button, fw::TShiftState Shift, int X, int Y);
    void menuExitClick(fw::TObject* Sender);
    void menuOpenControlPanelClick(fw::TObject* Sender);
    void menuVersionInfoClick(fw::TObject* Sender);
    void menuEnableNotificationClick(fw::TObject* Sender);
    void popupMainPopup(fw::TObject* Sender);
    void VPNClickHandler(fw::TObject* Sender);
    void OnConnectResult(const NetVPNWin::TVPNInfo& AInfo, bool ASuccess);
    void OnDisconnectResult(const NetVPNWin::TVPNInfo& AInfo, bool ASuccess);

    const NetVPNWin::TVPNManager* VPNManager() const noexcept { return FVPNManager.get(); }
    const std::vector<fw::TMenuItem*>& VPNItems() const noexcept { return FVPNItems; }

private:
    void UpdateTrayStatus(bool AConnected, const std::wstring& AName);
    void ShowConnectedStatus();
    void ShowResult(const std::wstring& AName, bool AConnected, const std::wstring& AMessage, fw::TBalloonFlags AKind);
    void SetVPNItemsVisible(bool AVisible);

    std::unique_ptr<NetVPNWin::TVPNManager> FVPNManager;
    std::vector<fw::TMenuItem*> FVPNItems;
    NetVPNWin::TVPNInfo FInfo;
};

// The main window, once the entry has created it.
extern TfrmMain* frmMain;

} // namespace uMain
