// The hidden main window: its static menu, the tray status and the poll.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "framework/Application.h"
#include "framework/Exceptions.h"
#include "settings/uIniManager.h"
#include "tests/TestSupport.h"
#include "tools/common/Protocol.h"
#include "tools/common/WindowQueries.h"
#include "ui/uMain.h"

namespace {

using namespace fw;
using uMain::TfrmMain;

class MainFormTest : public testing::Test {
protected:
    void Create(const std::vector<std::wstring>& AScenario)
    {
        Scenario.Write(AScenario);
        Form = std::make_unique<TfrmMain>(*Application);
        Form->DoCreate();
    }
    ~MainFormTest() override
    {
        if (Form) Form->DoDestroy();
    }
    void Poll() { Form->timerCheckConnectedTimer(Form->timerCheckConnected.get()); }
    // Clicks the VPN item of AName and pumps until its completion has run.
    void ClickEntry(const std::wstring& AName)
    {
        for (TMenuItem* item : Form->VPNItems()) {
            if (item->Caption() != AName) continue;
            item->Click();
            ASSERT_TRUE(test::PumpUntil(
                [&] { return !Form->menuConnecting->Visible() && !Form->menuDisconnecting->Visible(); }));
            return;
        }
        FAIL() << "no item for that entry";
    }
    std::vector<std::wstring> VisibleCaptions()
    {
        std::vector<std::wstring> captions;
        for (int i = 0; i < Form->popupMain->Count(); ++i)
            if (Form->popupMain->Items(i)->Visible()) captions.push_back(Form->popupMain->Items(i)->Caption());
        return captions;
    }
    const test::TNotifyRecord* LastBalloon() const
    {
        for (auto it = Tray.Records.rbegin(); it != Tray.Records.rend(); ++it)
            if (it->Flags & NIF_INFO) return &*it;
        return nullptr;
    }
    size_t Modifies() const
    {
        size_t n = 0;
        for (auto& r : Tray.Records) n += r.Message == NIM_MODIFY;
        return n;
    }

    test::TRasScenario Scenario;
    test::TFakeTray Tray;
    std::unique_ptr<TfrmMain> Form;
};

TEST_F(MainFormTest, StaticMenuInItsOrderWithItsInitialStates)
{
    Create({});
    struct TExpected {
        TMenuItem* Item;
        const wchar_t* Name;
        const wchar_t* Caption;
        bool Enabled, Visible, Checked;
    } expected[] = {
        {Form->menuConnecting, L"menuConnecting", L"Connecting...", false, false, false},
        {Form->menuDisconnecting, L"menuDisconnecting", L"Disconnecting...", false, false, false},
        {Form->menuSep1, L"menuSep1", L"-", true, true, false},
        {Form->menuOpenControlPanel, L"menuOpenControlPanel", L"&Open VPN Setting...", true, true, false},
        {Form->menuSep2, L"menuSep2", L"-", true, true, false},
        {Form->menuEnableNotification, L"menuEnableNotification", L"Enable &Notification", true, true, true},
        {Form->menuVersionInfo, L"menuVersionInfo", L"&Version Info...", true, true, false},
        {Form->menuSep3, L"menuSep3", L"-", true, true, false},
        {Form->menuExit, L"menuExit", L"E&xit", true, true, false},
    };
    // Behind the "(none)" item of an empty phonebook.
    ASSERT_EQ(Form->popupMain->Count(), 10);
    for (int i = 0; i < 9; ++i) {
        const auto& e = expected[i];
        SCOPED_TRACE(testing::Message() << "item " << i);
        EXPECT_EQ(Form->popupMain->Items(i + 1), e.Item);
        EXPECT_EQ(e.Item->Name, e.Name);
        EXPECT_EQ(e.Item->Caption(), e.Caption);
        EXPECT_EQ(e.Item->Enabled(), e.Enabled);
        EXPECT_EQ(e.Item->Visible(), e.Visible);
        EXPECT_EQ(e.Item->Checked(), e.Checked);
    }
    // What the system shows: "(none)" and the seven visible static items.
    EXPECT_EQ(GetMenuItemCount(Form->popupMain->Handle()), 8);
    EXPECT_EQ(GetMenuItemID(Form->popupMain->Handle(), 7), Form->menuExit->Command());
}

TEST_F(MainFormTest, ComponentsAsDesigned)
{
    Create({});
    EXPECT_EQ(Form->Name, L"frmMain");
    EXPECT_EQ(Form->trayMain->BalloonTitle, L"VPN Information");
    EXPECT_EQ(Form->trayMain->BalloonTimeout, 50000u);
    EXPECT_EQ(Form->trayMain->BalloonFlags, bfInfo);
    EXPECT_TRUE(Form->trayMain->Visible());
    EXPECT_EQ(Form->trayMain->PopupMenu, Form->popupMain.get());
    EXPECT_EQ(Form->timerCheckConnected->Interval(), 5000u);
    EXPECT_TRUE(Form->timerCheckConnected->Enabled());
    EXPECT_EQ(Form->imglstIcons->Count(), 2);
    EXPECT_EQ(Form->imglstIcons->Width(), 24);
    wchar_t caption[64] = {};
    GetWindowTextW(Form->Handle(), caption, 64);
    EXPECT_STREQ(caption, L"Tarnwick");
    EXPECT_FALSE(IsWindowVisible(Form->Handle()));
}

TEST_F(MainFormTest, WithoutEntriesTheStatusStartsDisconnected)
{
    Create({L"entry\tphone\tModem"});
    EXPECT_EQ(Form->VPNManager()->Count(), 0);
    EXPECT_EQ(Form->trayMain->IconIndex(), 0);
    EXPECT_EQ(Form->trayMain->Hint(), L"Disconnected");
    ASSERT_FALSE(Tray.Records.empty());
    EXPECT_EQ(Tray.Records.front().Message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(Tray.Records.back().Tip, L"Disconnected");
}

TEST_F(MainFormTest, PollFollowsTheConnectedNameAndSendsOnlyChanges)
{
    const std::wstring a = L"conn\t1\tconnected\tA", b = L"conn\t2\tconnected\tB";
    // Each row starts from the first scenario and polls the second.
    const struct {
        const char* Label;
        std::vector<std::wstring> Before, After;
        const wchar_t* Tip; // nullptr: nothing is sent
    } cases[] = {
        {"A to B between polls", {a}, {b}, L"B"},
        {"A to none", {a}, {}, L"Disconnected"},
        {"none to B", {}, {b}, L"B"},
        {"same name", {a}, {a}, nullptr},
        {"still none", {}, {}, nullptr},
        {"A only connecting now", {a}, {L"conn\t1\tconnecting\tA"}, L"Disconnected"},
        {"a failing query counts as none", {a}, {a, L"fail\tRasEnumConnectionsW\t5"}, L"Disconnected"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        Create(c.Before);
        Scenario.Write(c.After);
        size_t before = Modifies();
        Poll();
        if (!c.Tip) {
            EXPECT_EQ(Modifies(), before) << "nothing changed, nothing sent";
        } else {
            EXPECT_EQ(Tray.Records.back().Tip, c.Tip);
            EXPECT_EQ(Form->trayMain->Hint(), c.Tip);
            EXPECT_EQ(Form->trayMain->IconIndex(), std::wstring(c.Tip) == L"Disconnected" ? 0 : 1);
        }
        Form->DoDestroy();
        Form.reset();
        Tray.Records.clear();
    }
}

TEST_F(MainFormTest, ALongConnectedNameShowsItsFirst127Units)
{
    Create({});
    std::wstring name;
    for (int i = 0; i < 200; ++i) name += static_cast<wchar_t>(L'A' + i % 26);
    Scenario.Write({L"conn\t1\tconnected\t" + name});
    Poll();
    EXPECT_EQ(Form->trayMain->Hint(), name);
    EXPECT_EQ(Tray.Records.back().Tip, name.substr(0, 127));
}

TEST_F(MainFormTest, TheTimerDrivesThePoll)
{
    Create({L"conn\t1\tconnected\tA"});
    Form->timerCheckConnected->SetInterval(50);
    EXPECT_TRUE(test::PumpUntil([&] { return Form->trayMain->IconIndex() == 1; }));
}

// The test tools click the tray icon from another process with their own copy
// of its callback; they find its window by class.
static_assert(tools::KTrayCallback == fw::TTrayIcon::KCallbackMessage);

TEST_F(MainFormTest, LeftAndRightButtonsOpenTheMenuTheMiddleDoesNot)
{
    Create({});
    ASSERT_TRUE(tools::SameClass(Form->trayMain->Window(), tools::KTrayIconClass));
    int popups = 0;
    std::optional<test::TRunSoon> close;
    Form->popupMain->OnPopup = [&](TObject*) {
        ++popups;
        // Close the menu once it is on screen.
        close.emplace(
            [] {
                EndMenu();
                return true;
            },
            50);
    };
    auto release = [&](LPARAM AMessage) {
        EXPECT_TRUE(test::MenuClosesWithin([&] {
            SendMessageW(Form->trayMain->Window(), tools::KTrayCallback, tools::KTrayIconId, AMessage);
        })) << "the menu stayed open";
    };
    release(WM_MBUTTONUP);
    EXPECT_EQ(popups, 0);
    release(WM_LBUTTONUP);
    EXPECT_EQ(popups, 1);
    EXPECT_EQ(Form->popupMain->PopupComponent, Form.get());
    EXPECT_FALSE(Form->popupMain->AutoPopup);
    release(WM_RBUTTONUP);
    EXPECT_EQ(popups, 2);
}

TEST_F(MainFormTest, OneItemPerEntryAheadOfTheStaticItems)
{
    Create({L"entry\tvpn\tOffice", L"entry\tphone\tModem", L"entry\tvpn\tLab"});
    ASSERT_EQ(Form->VPNItems().size(), 2u);
    for (int i = 0; i < 2; ++i) {
        TMenuItem* item = Form->VPNItems()[static_cast<size_t>(i)];
        EXPECT_EQ(Form->popupMain->Items(i), item);
        EXPECT_EQ(item->Name, L"menuVPN" + std::to_wstring(i));
        EXPECT_EQ(item->Tag, i);
        EXPECT_TRUE(item->Enabled());
        EXPECT_FALSE(item->Checked());
    }
    EXPECT_EQ(VisibleCaptions(),
              (std::vector<std::wstring>{L"Office", L"Lab", L"-", L"&Open VPN Setting...", L"-",
                                         L"Enable &Notification", L"&Version Info...", L"-", L"E&xit"}));
}

TEST_F(MainFormTest, EntryNamesShowAsTheyStand)
{
    Create({L"entry\tvpn\tR&D", L"entry\tvpn\t-"});
    EXPECT_EQ(Form->VPNItems()[0]->Caption(), L"R&D");
    wchar_t text[16] = {};
    GetMenuStringW(Form->popupMain->Handle(), 0, text, 16, MF_BYPOSITION);
    EXPECT_STREQ(text, L"R&&D") << "no access key made of the D";
    EXPECT_EQ(Form->VPNItems()[0]->AccessKey(), 0);
    EXPECT_FALSE(Form->VPNItems()[1]->IsLine()) << "an entry named - is no separator";
}

TEST_F(MainFormTest, WithoutEntriesADisabledNoneItemLeadsTheMenu)
{
    Create({});
    TMenuItem* none = Form->popupMain->Items(0);
    EXPECT_EQ(none->Caption(), L"(none)");
    EXPECT_EQ(none->Name, L"menuVPNNone");
    EXPECT_FALSE(none->Enabled());
    EXPECT_TRUE(none->Visible());
    EXPECT_TRUE(Form->VPNItems().empty());
}

TEST_F(MainFormTest, StartUpStatusIsTheConnectionThatIsUp)
{
    const std::vector<std::wstring> entries = {L"entry\tvpn\tA", L"entry\tvpn\tB", L"entry\tvpn\tC"};
    auto with = [&](std::vector<std::wstring> AConnections) {
        std::vector<std::wstring> lines = entries;
        lines.insert(lines.end(), AConnections.begin(), AConnections.end());
        return lines;
    };
    const struct {
        const char* Label;
        std::vector<std::wstring> Scenario;
        const wchar_t* Tip;
    } cases[] = {
        {"no entry connected", with({}), L"Disconnected"},
        {"first connected", with({L"conn\t1\tconnected\tA"}), L"A"},
        {"middle connected", with({L"conn\t1\tconnected\tB"}), L"B"},
        {"last connected", with({L"conn\t1\tconnected\tC"}), L"C"},
        {"two connected: the first enumerated", with({L"conn\t1\tconnected\tC", L"conn\t2\tconnected\tA"}), L"C"},
        {"no VPN entry, a dial-up connection up", {L"entry\tphone\tModem", L"conn\t1\tconnected\tModem"}, L"Modem"},
        {"no entry at all", {}, L"Disconnected"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Label);
        Create(c.Scenario);
        const bool connected = std::wstring(c.Tip) != L"Disconnected";
        // What the shell was told last: the tip, and image 1 exactly when connected
        // (the icon was added with image 0).
        ASSERT_FALSE(Tray.Records.empty());
        const test::TNotifyRecord& last = Tray.Records.back();
        EXPECT_EQ(last.Tip, c.Tip);
        EXPECT_EQ(last.IconBits != Tray.Records.front().IconBits, connected);
        EXPECT_EQ(Form->trayMain->IconIndex(), connected ? 1 : 0);
        // The first tick finds nothing to correct.
        size_t told = Tray.Records.size();
        Poll();
        EXPECT_EQ(Tray.Records.size(), told) << "the first poll sent something";
        Form->DoDestroy();
        Form.reset();
        Tray.Records.clear();
    }
}

TEST_F(MainFormTest, OpeningTheMenuChecksTheConnectedEntries)
{
    Create({L"entry\tvpn\tOffice", L"entry\tvpn\tLab", L"conn\t1\tconnected\tLab"});
    Form->popupMainPopup(Form->popupMain.get());
    EXPECT_FALSE(Form->VPNItems()[0]->Checked());
    EXPECT_TRUE(Form->VPNItems()[1]->Checked());
}

TEST_F(MainFormTest, ConnectShowsTheBusyItemThenTheResult)
{
    Create({L"entry\tvpn\tOffice", L"entry\tvpn\tLab", L"dial\t0\t300\tOffice"});
    Form->VPNItems()[0]->Click();
    EXPECT_EQ(VisibleCaptions().front(), L"Connecting...");
    EXPECT_EQ(Form->popupMain->Items(0), Form->menuConnecting);
    EXPECT_EQ(Form->popupMain->Items(1), Form->menuDisconnecting);
    EXPECT_FALSE(Form->menuConnecting->Enabled());
    EXPECT_FALSE(Form->VPNItems()[0]->Visible());
    EXPECT_FALSE(Form->VPNItems()[1]->Visible());
    EXPECT_TRUE(Form->menuExit->Visible());

    ASSERT_TRUE(test::PumpUntil([&] { return Form->VPNItems()[0]->Visible(); }));
    EXPECT_FALSE(Form->menuConnecting->Visible());
    EXPECT_EQ(Form->trayMain->IconIndex(), 1);
    EXPECT_EQ(Form->trayMain->Hint(), L"Office");
    const test::TNotifyRecord* balloon = LastBalloon();
    ASSERT_NE(balloon, nullptr);
    EXPECT_EQ(balloon->Info, L"Office: Connected");
    EXPECT_EQ(balloon->InfoTitle, L"VPN Information");
    EXPECT_EQ(balloon->InfoFlags, static_cast<DWORD>(NIIF_INFO));
    EXPECT_EQ(balloon->Timeout, 50000u);
}

TEST_F(MainFormTest, ResultTable)
{
    const struct {
        const char* Title;
        std::vector<std::wstring> Scenario;
        const wchar_t* Balloon;
        DWORD Kind;
        int Icon;
        const wchar_t* Hint;
    } cases[] = {
        {"connect fails",
         {L"entry\tvpn\tOffice", L"dial\t691\t0\tOffice"},
         L"Office: Connected failed",
         NIIF_WARNING,
         0,
         L"Disconnected"},
        {"disconnect",
         {L"entry\tvpn\tOffice", L"conn\t1\tconnected\tOffice", L"conn\t2\tconnected\tLab"},
         L"Office: Disconnected",
         NIIF_INFO,
         0,
         L"Disconnected"},
        {"disconnect refused",
         {L"entry\tvpn\tOffice", L"conn\t1\tconnected\tOffice", L"fail\tRasHangUpW\t6"},
         L"Office: Disconnected failed",
         NIIF_WARNING,
         1,
         L"Office"},
        {"percent signs", {L"entry\tvpn\t%s 100% %d"}, L"%s 100% %d: Connected", NIIF_INFO, 1, L"%s 100% %d"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        Create(c.Scenario);
        ClickEntry(Form->VPNItems()[0]->Caption());
        const test::TNotifyRecord* balloon = LastBalloon();
        ASSERT_NE(balloon, nullptr);
        EXPECT_EQ(balloon->Info, c.Balloon);
        EXPECT_EQ(balloon->InfoFlags, c.Kind);
        EXPECT_EQ(Form->trayMain->IconIndex(), c.Icon);
        EXPECT_EQ(Form->trayMain->Hint(), c.Hint);
        Form->DoDestroy();
        Form.reset();
        Tray.Records.clear();
    }
}

TEST_F(MainFormTest, AClickAsksTheStateAfreshNotTheCheckMark)
{
    Create({L"entry\tvpn\tOffice"});
    Form->popupMainPopup(Form->popupMain.get());
    ASSERT_FALSE(Form->VPNItems()[0]->Checked());
    Scenario.Write({L"entry\tvpn\tOffice", L"conn\t1\tconnected\tOffice"});
    ClickEntry(L"Office");
    EXPECT_EQ(LastBalloon()->Info, L"Office: Disconnected");
}

TEST_F(MainFormTest, ALongBalloonIsCutAt255UnitsNeverInsideAPair)
{
    // 256 units whose last two form a pair straddling the 255-unit limit.
    std::wstring name = std::wstring(254, L'n') + L"\U0001F512";
    Create({L"entry\tvpn\t" + name});
    ClickEntry(name);
    EXPECT_EQ(LastBalloon()->Info, std::wstring(254, L'n'));
}

TEST_F(MainFormTest, NotificationsOffShowNoBalloonButUpdateEverythingElse)
{
    Create({L"entry\tvpn\tOffice"});
    bool saved = uIniManager::IniManager().EnableNotification();
    Form->menuEnableNotification->SetChecked(false);
    ClickEntry(L"Office");
    EXPECT_EQ(LastBalloon(), nullptr);
    EXPECT_EQ(Form->trayMain->IconIndex(), 1);
    EXPECT_TRUE(Form->VPNItems()[0]->Visible());
    uIniManager::IniManager().SetEnableNotification(saved);
}

TEST_F(MainFormTest, TheToggleStartsFromTheSettingAndStoresEachChange)
{
    auto& settings = uIniManager::IniManager();
    bool saved = settings.EnableNotification();
    settings.SetEnableNotification(false);
    Create({});
    EXPECT_FALSE(Form->menuEnableNotification->Checked());
    Form->menuEnableNotification->Click();
    EXPECT_TRUE(Form->menuEnableNotification->Checked());
    EXPECT_TRUE(settings.EnableNotification());
    uIniManager::TIniManager reread;
    EXPECT_TRUE(reread.EnableNotification()) << "Update wrote the file";
    Form->menuEnableNotification->Click();
    uIniManager::TIniManager reread2;
    EXPECT_FALSE(reread2.EnableNotification());
    settings.SetEnableNotification(saved);
    settings.Update();
}

TEST_F(MainFormTest, AResultLandingWhileTheMenuIsOpenLeavesItsItemsWhereTheUserSeesThem)
{
    Create({L"entry\tvpn\tOffice", L"entry\tvpn\tLab", L"dial\t0\t300\tOffice"});
    Form->VPNItems()[0]->Click();
    int whileBusy = 0, afterResult = -1;
    auto original = Form->popupMain->OnPopup;
    Form->popupMain->OnPopup = [&](TObject* ASender) {
        original(ASender);
        whileBusy = GetMenuItemCount(Form->popupMain->Handle());
    };
    // In the open menu: Down to its first item, the result lands, Return.
    int step = 0;
    test::TRunSoon keys([&] {
        HWND menu = FindWindowW(L"#32768", nullptr);
        if (!menu) return false;
        switch (step) {
        case 0:
            PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
            ++step;
            return false;
        case 1:
            if (!Form->VPNItems()[0]->Visible()) return false; // still connecting
            afterResult = GetMenuItemCount(Form->popupMain->Handle());
            EXPECT_EQ(Form->trayMain->IconIndex(), 1) << "the icon waits for the menu";
            PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
            ++step;
            return false;
        default:
            // Return on the disabled busy item leaves the menu open.
            EndMenu();
            return true;
        }
    });
    EXPECT_TRUE(test::MenuClosesWithin([&] {
        SendMessageW(Form->trayMain->Window(), fw::TTrayIcon::KCallbackMessage, 1, WM_LBUTTONUP);
    })) << "the menu stayed open";
    test::PumpPending();
    EXPECT_EQ(whileBusy, 8) << "Connecting... and the static items";
    EXPECT_EQ(afterResult, 8) << "the open menu changed under the user";
    EXPECT_FALSE(Form->menuConnecting->Visible() || Form->menuDisconnecting->Visible()) << "Return acted on an entry";
    EXPECT_EQ(Scenario.Calls(L"RasDialW").size(), 1u);
    EXPECT_TRUE(Scenario.Calls(L"RasHangUpW").empty());
    EXPECT_EQ(GetMenuItemCount(Form->popupMain->Handle()), 9) << "the entries are back once it closed";
}

TEST_F(MainFormTest, EveryRequestEndsAndTheMenuComesBack)
{
    const std::wstring outOfMemory = fw::SysErrorMessage(ERROR_NOT_ENOUGH_MEMORY);
    const struct {
        const char* Title;
        std::vector<std::wstring> Scenario;
        void (*Arm)(test::TFaultyServices&);
        bool Box;               // the click's error is reported
        const wchar_t* Balloon; // the request's result, if it has one
    } cases[] = {
        {"the worker cannot be started",
         {L"entry\tvpn\tOffice"},
         [](test::TFaultyServices& AFaults) { AFaults.FailThreadStart(); },
         true,
         nullptr},
        {"the status query fails in the click handler",
         {L"entry\tvpn\tOffice"},
         [](test::TFaultyServices& AFaults) { AFaults.RaiseIn("RasEnumConnectionsW"); },
         true,
         nullptr},
        {"the connect worker's service call fails",
         {L"entry\tvpn\tOffice"},
         [](test::TFaultyServices& AFaults) { AFaults.RaiseIn("RasGetEntryDialParamsW"); },
         false,
         L"Office: Connected failed"},
        {"the disconnect worker's service call fails",
         {L"entry\tvpn\tOffice", L"conn\t1\tconnected\tOffice"},
         [](test::TFaultyServices& AFaults) { AFaults.RaiseIn("RasHangUpW"); },
         false,
         L"Office: Disconnected failed"},
        {"the result fails part-way",
         {L"entry\tvpn\tOffice"},
         [](test::TFaultyServices& AFaults) { AFaults.FailIconLoad(); },
         false,
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        Create(c.Scenario);
        Tray.Records.clear();
        test::TBoxCatcher boxes;
        test::TFaultyServices faults;
        c.Arm(faults);
        // Chosen as the user does: the menu's command, whose errors are reported.
        SendMessageW(Form->popupMain->Window(), WM_COMMAND, Form->VPNItems()[0]->Command(), 0);
        EXPECT_TRUE(test::PumpUntil([&] { return Form->VPNItems()[0]->Visible(); })) << "the entries never came back";
        EXPECT_FALSE(Form->menuConnecting->Visible());
        EXPECT_FALSE(Form->menuDisconnecting->Visible());
        ASSERT_EQ(boxes.Texts.size(), c.Box ? 1u : 0u);
        if (c.Box) {
            EXPECT_EQ(boxes.Texts[0].substr(0, outOfMemory.size()), outOfMemory);
        }
        const test::TNotifyRecord* balloon = LastBalloon();
        EXPECT_EQ(balloon ? balloon->Info : std::wstring(), c.Balloon ? c.Balloon : L"");
        // The failure is spent: the next request works.
        ClickEntry(L"Office");
        EXPECT_EQ(boxes.Texts.size(), c.Box ? 1u : 0u);
        Form->DoDestroy();
        Form.reset();
    }
}

TEST_F(MainFormTest, AnIconThatCannotBeLoadedLeavesTheStatusForThePollToCorrect)
{
    Create({L"entry\tvpn\tOffice"});
    {
        test::TFaultyServices faults;
        faults.FailIconLoad();
        EXPECT_THROW(Form->OnConnectResult(Form->VPNManager()->Items(0), true), EOSError);
    }
    EXPECT_EQ(Form->trayMain->IconIndex(), 0) << "the index moved without its image";
    Scenario.Write({L"entry\tvpn\tOffice", L"conn\t1\tconnected\tOffice"});
    Poll();
    EXPECT_EQ(Form->trayMain->IconIndex(), 1);
    EXPECT_EQ(Tray.Records.back().Tip, L"Office");
}

TEST_F(MainFormTest, ClicksBeforeTheWindowIsCreatedAreIgnored)
{
    Scenario.Write({L"entry\tvpn\tOffice"});
    Form = std::make_unique<TfrmMain>(*Application);
    int popups = 0;
    Form->popupMain->OnPopup = [&](TObject*) { ++popups; };
    // Nothing would close a menu opened here.
    EXPECT_TRUE(test::MenuClosesWithin([&] {
        for (LPARAM m : {WM_LBUTTONUP, WM_RBUTTONUP})
            SendMessageW(Form->trayMain->Window(), fw::TTrayIcon::KCallbackMessage, 1, m);
    })) << "a menu opened and stayed open";
    EXPECT_EQ(popups, 0);
    Form->DoCreate();
}

TEST_F(MainFormTest, ExitOfTheMainFormEndsTheMessageLoop)
{
    // WM_QUIT is what ends the loop; it is taken here, so the test's own loops go on.
    auto quitPosted = [] {
        MSG msg;
        return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    };
    Create({});
    Form->menuExit->Click();
    EXPECT_FALSE(quitPosted()) << "a form that is not the main form ended the loop";

    TfrmMain* main = nullptr;
    Application->CreateForm(main);
    ASSERT_EQ(Application->MainForm(), main);
    main->menuExit->Click();
    const bool quit = quitPosted();
    Application->DestroyForm(main);
    EXPECT_TRUE(quit) << "Exit left the message loop running";
}

} // namespace
