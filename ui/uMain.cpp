#include "ui/uMain.h"

#include "framework/Application.h"

namespace uMain {

using namespace fw;
using NetVPNWin::TVPNManager;

TfrmMain* frmMain = nullptr;

namespace {

constexpr wchar_t KDisconnectedHint[] = L"Disconnected";

std::unique_ptr<TMenuItem> MakeItem(const wchar_t* AName, const wchar_t* ACaption, bool AEnabled, bool AVisible)
{
    auto item = std::make_unique<TMenuItem>(ACaption);
    item->Name = AName;
    item->SetEnabled(AEnabled);
    item->SetVisible(AVisible);
    return item;
}

} // namespace

TfrmMain::TfrmMain(TApplication& AOwner) : TForm(AOwner, L"TfrmMain", L"Tarnwick")
{
    Name = L"frmMain";
    OnCreate = [this](TObject* s) { FormCreate(s); };
    OnDestroy = [this](TObject* s) { FormDestroy(s); };

    imglstIcons = std::make_unique<TImageList>(24, 24);
    imglstIcons->Name = L"imglstIcons";
    imglstIcons->AddResourceIcon(L"TRAYDISCONNECTED");
    imglstIcons->AddResourceIcon(L"TRAYCONNECTED");

    popupMain = std::make_unique<TPopupMenu>();
    popupMain->Name = L"popupMain";
    popupMain->OnPopup = [this](TObject* s) { popupMainPopup(s); };
    menuConnecting = popupMain->Add(MakeItem(L"menuConnecting", L"Connecting...", false, false));
    menuDisconnecting = popupMain->Add(MakeItem(L"menuDisconnecting", L"Disconnecting...", false, false));
    menuSep1 = popupMain->Add(MakeItem(L"menuSep1", L"-", true, true));
    menuOpenControlPanel = popupMain->Add(MakeItem(L"menuOpenControlPanel", L"&Open VPN Setting...", true, true));
    menuOpenControlPanel->OnClick = [this](TObject* s) { menuOpenControlPanelClick(s); };
    menuSep2 = popupMain->Add(MakeItem(L"menuSep2", L"-", true, true));
    menuEnableNotification = popupMain->Add(MakeItem(L"menuEnableNotification", L"Enable &Notification", true, true));
    menuEnableNotification->SetChecked(true);
    menuEnableNotification->OnClick = [this](TObject* s) { menuEnableNotificationClick(s); };
    menuVersionInfo = popupMain->Add(MakeItem(L"menuVersionInfo", L"&Version Info...", true, true));
    menuVersionInfo->OnClick = [this](TObject* s) { menuVersionInfoClick(s); };
    menuSep3 = popupMain->Add(MakeItem(L"menuSep3", L"-", true, true));
    menuExit = popupMain->Add(MakeItem(L"menuExit", L"E&xit", true, true));
    menuExit->OnClick = [this](TObject* s) { menuExitClick(s); };

    trayMain = std::make_unique<TTrayIcon>(this);
    trayMain->Name = L"trayMain";
    trayMain->BalloonTitle = L"VPN Information";
    trayMain->BalloonTimeout = 50000;
    trayMain->BalloonFlags = bfInfo;
    trayMain->SetIcons(imglstIcons.get());
    trayMain->PopupMenu = popupMain.get();
    trayMain->OnMouseUp = [this](TObject* s, TMouseButton b, TShiftState sh, int x, int y) {
        trayMainMouseUp(s, b, sh, x, y);
    };
    trayMain->SetVisible(true);

    timerCheckConnected = std::make_unique<TTimer>();
    timerCheckConnected->Name = L"timerCheckConnected";
    timerCheckConnected->OnTimer = [this](TObject* s) { timerCheckConnectedTimer(s); };
    timerCheckConnected->SetInterval(5000);
    timerCheckConnected->SetEnabled(true);
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::FormCreate(TObject*)
{
    FVPNManager = std::make_unique<TVPNManager>();
    if (FVPNManager->Count() == 0) UpdateTrayStatus(false, L"");
}

void TfrmMain::FormDestroy(TObject*)
{
    FVPNManager.reset();
}

void TfrmMain::UpdateTrayStatus(bool AConnected, const std::wstring& AName)
{
    if (AConnected) {
        if (trayMain->IconIndex() == 0) trayMain->SetIconIndex(1);
        trayMain->SetHint(AName);
    } else {
        if (trayMain->IconIndex() == 1) trayMain->SetIconIndex(0);
        trayMain->SetHint(KDisconnectedHint);
    }
}

void TfrmMain::timerCheckConnectedTimer(TObject*)
{
    bool was = trayMain->IconIndex() == 1;
    std::wstring name = TVPNManager::GetConnectedName();
    bool now = !name.empty();
    if (was != now) UpdateTrayStatus(now, name);
}

void TfrmMain::trayMainMouseUp(TObject*, TMouseButton Button, TShiftState, int, int)
{
    if (Button != TMouseButton::mbLeft) return;
    POINT cursor{};
    GetCursorPos(&cursor);
    SetForegroundWindow(Owner().Handle());
    Owner().ProcessMessages();
    popupMain->AutoPopup = false;
    popupMain->PopupComponent = this;
    popupMain->Popup(cursor.x, cursor.y);
}

void TfrmMain::menuExitClick(TObject*)
{
    Close();
}

void TfrmMain::menuOpenControlPanelClick(TObject*)
{
    FVPNManager->OpenCPL();
}

void TfrmMain::menuVersionInfoClick(TObject*)
{
    // The version dialog arrives with its own unit.
}

void TfrmMain::menuEnableNotificationClick(TObject*)
{
    // The notification toggle arrives with the settings store.
}

void TfrmMain::popupMainPopup(TObject*)
{
    // Check marks for the VPN entries arrive with the entry operations.
}

} // namespace uMain
