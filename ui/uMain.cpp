#include "ui/uMain.h"

#include "framework/Application.h"
#include "framework/Handles.h"
#include "settings/uIniManager.h"
#include "ui/uVersion.h"

namespace uMain {

using namespace fw;
using NetVPNWin::TVPNInfo;
using NetVPNWin::TVPNManager;

TfrmMain* frmMain = nullptr;

namespace {

constexpr wchar_t KDisconnectedHint[] = L"Disconnected";
// The tray icon's images: the status is one of these with its hint.
constexpr int KIconDisconnected = 0;
constexpr int KIconConnected = 1;
// How often the connection is polled, and how long a balloon stays.
constexpr unsigned KPollIntervalMs = 5000;
constexpr unsigned KBalloonTimeoutMs = 50000;

std::unique_ptr<TMenuItem> MakeItem(const wchar_t* AName, const wchar_t* ACaption, bool AEnabled, bool AVisible)
{
    auto item = std::make_unique<TMenuItem>(ACaption);
    item->Name = AName;
    item->SetEnabled(AEnabled);
    item->SetVisible(AVisible);
    return item;
}

} // namespace

TfrmMain::TfrmMain(TApplication& AOwner) : TForm(AOwner)
{
    CreateHandle(L"TfrmMain", L"Tarnwick");
    Name = L"frmMain";
    OnCreate = [this](TObject* s) { FormCreate(s); };
    OnDestroy = [this](TObject* s) { FormDestroy(s); };

    imglstIcons = std::make_unique<TImageList>(24, 24);
    imglstIcons->Name = L"imglstIcons";
    imglstIcons->AddResourceIcon(L"TRAYDISCONNECTED");
    imglstIcons->AddResourceIcon(L"TRAYCONNECTED");

    popupMain = std::make_unique<TPopupMenu>(*this);
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
    trayMain->BalloonTimeout = KBalloonTimeoutMs;
    trayMain->BalloonFlags = bfInfo;
    trayMain->SetIcons(imglstIcons.get());
    trayMain->PopupMenu = popupMain.get();
    trayMain->OnMouseUp = [this](TObject* s, TMouseButton b, TShiftState sh, int x, int y) {
        trayMainMouseUp(s, b, sh, x, y);
    };
    trayMain->SetVisible(true);

    timerCheckConnected = std::make_unique<TTimer>(*this);
    timerCheckConnected->Name = L"timerCheckConnected";
    timerCheckConnected->OnTimer = [this](TObject* s) { timerCheckConnectedTimer(s); };
    timerCheckConnected->SetInterval(KPollIntervalMs);
    timerCheckConnected->SetEnabled(true);
}

TfrmMain::~TfrmMain() = default;

void TfrmMain::FormCreate(TObject*)
{
    FVPNManager = std::make_unique<TVPNManager>();
    if (FVPNManager->Count() > 0) {
        for (int i = 0; i < FVPNManager->Count(); ++i) {
            TVPNInfo info = FVPNManager->Items(i);
            auto item = std::make_unique<TMenuItem>(info.FName);
            item->Name = L"menuVPN" + std::to_wstring(i);
            // An entry named "R&D" must read "R&D", not "RD" with a D access key.
            item->LiteralCaption = true;
            item->OnClick = [this](TObject* s) { VPNClickHandler(s); };
            item->Tag = i;
            FVPNItems.push_back(item.get());
            popupMain->Insert(i, std::move(item));
        }
    } else {
        auto none = MakeItem(L"menuVPNNone", L"(none)", false, true);
        popupMain->Insert(0, std::move(none));
    }
    // The status the first poll would leave, so that poll changes nothing. Asking
    // each entry in turn would let the last entry's state stand, and flip the
    // icon while it is being asked.
    ShowConnectedStatus();
    menuEnableNotification->SetChecked(uIniManager::IniManager().EnableNotification());
}

void TfrmMain::FormDestroy(TObject*)
{
    FVPNManager.reset();
}

void TfrmMain::UpdateTrayStatus(bool AConnected, const std::wstring& AName)
{
    if (AConnected) {
        if (trayMain->IconIndex() == KIconDisconnected) trayMain->SetIconIndex(KIconConnected);
        trayMain->SetHint(AName);
    } else {
        if (trayMain->IconIndex() == KIconConnected) trayMain->SetIconIndex(KIconDisconnected);
        trayMain->SetHint(KDisconnectedHint);
    }
}

void TfrmMain::timerCheckConnectedTimer(TObject*)
{
    ShowConnectedStatus();
}

void TfrmMain::ShowConnectedStatus()
{
    // Any connection that is up counts, entry of ours or not. A change of the
    // connected name is a change too: the tip must never name a connection
    // that is down. UpdateTrayStatus sends only what differs.
    std::wstring name = TVPNManager::GetConnectedName();
    UpdateTrayStatus(!name.empty(), name);
}

void TfrmMain::trayMainMouseUp(TObject*, TMouseButton Button, TShiftState, int, int)
{
    if (Button != TMouseButton::mbLeft) return;
    POINT cursor{};
    GetCursorPos(&cursor);
    popupMain->PopupFor(this, cursor);
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
    uVersion::ShowVersion();
}

void TfrmMain::menuEnableNotificationClick(TObject*)
{
    menuEnableNotification->SetChecked(!menuEnableNotification->Checked());
    uIniManager::IniManager().SetEnableNotification(menuEnableNotification->Checked());
    uIniManager::IniManager().Update();
}

void TfrmMain::popupMainPopup(TObject*)
{
    for (TMenuItem* item : FVPNItems) item->SetChecked(FVPNManager->Items(static_cast<int>(item->Tag)).IsConnected());
}

void TfrmMain::VPNClickHandler(TObject* Sender)
{
    auto* item = dynamic_cast<TMenuItem*>(Sender);
    if (!item) return;
    FInfo = FVPNManager->Items(static_cast<int>(item->Tag));
    SetVPNItemsVisible(false);
    popupMain->Move(menuConnecting, 0);
    popupMain->Move(menuDisconnecting, 1);
    // Should no request start, no completion would ever bring the entries
    // back: that is done here then, and the error is reported.
    TScopeExit restore([this] { SetVPNItemsVisible(true); });
    // The state is asked afresh: the check mark may be stale by now.
    if (FInfo.IsConnected()) {
        menuConnecting->SetVisible(false);
        FInfo.Disconnect([this](const TVPNInfo& AInfo, bool ASuccess) { OnDisconnectResult(AInfo, ASuccess); });
    } else {
        menuDisconnecting->SetVisible(false);
        FInfo.Connect([this](const TVPNInfo& AInfo, bool ASuccess) { OnConnectResult(AInfo, ASuccess); });
    }
    restore.Release();
}

void TfrmMain::OnConnectResult(const TVPNInfo& AInfo, bool ASuccess)
{
    if (ASuccess)
        ShowResult(AInfo.FName, true, L"Connected", bfInfo);
    else
        ShowResult(AInfo.FName, false, L"Connected failed", bfWarning);
}

void TfrmMain::OnDisconnectResult(const TVPNInfo& AInfo, bool ASuccess)
{
    if (ASuccess)
        ShowResult(AInfo.FName, false, L"Disconnected", bfInfo);
    else
        ShowResult(AInfo.FName, true, L"Disconnected failed", bfWarning);
}

void TfrmMain::ShowResult(const std::wstring& AName, bool AConnected, const std::wstring& AMessage, TBalloonFlags AKind)
{
    // The request is over whatever fails here: the entries come back.
    TScopeExit restore([this] { SetVPNItemsVisible(true); });
    UpdateTrayStatus(AConnected, AName);
    if (menuEnableNotification->Checked()) {
        trayMain->BalloonFlags = AKind;
        // Plain concatenation: the entry name is never read as a format.
        trayMain->BalloonHint = AName + L": " + AMessage;
        trayMain->ShowBalloonHint();
    }
}

void TfrmMain::SetVPNItemsVisible(bool AVisible)
{
    menuConnecting->SetVisible(!AVisible);
    menuDisconnecting->SetVisible(!AVisible);
    for (TMenuItem* item : FVPNItems) item->SetVisible(AVisible);
}

} // namespace uMain
