// The hidden main window: its static menu, the tray status and the poll.
#include <gtest/gtest.h>

#include "framework/Application.h"
#include "tests/TestSupport.h"
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
    ASSERT_EQ(Form->popupMain->Count(), 9);
    for (int i = 0; i < 9; ++i) {
        const auto& e = expected[i];
        SCOPED_TRACE(testing::Message() << "item " << i);
        EXPECT_EQ(Form->popupMain->Items(i), e.Item);
        EXPECT_EQ(e.Item->Name, e.Name);
        EXPECT_EQ(e.Item->Caption(), e.Caption);
        EXPECT_EQ(e.Item->Enabled(), e.Enabled);
        EXPECT_EQ(e.Item->Visible(), e.Visible);
        EXPECT_EQ(e.Item->Checked(), e.Checked);
    }
    // What the system shows: the seven visible items.
    EXPECT_EQ(GetMenuItemCount(Form->popupMain->Handle()), 7);
    EXPECT_EQ(GetMenuItemID(Form->popupMain->Handle(), 6), Form->menuExit->Command());
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

TEST_F(MainFormTest, PollFollowsTheConnectedStateAndKeepsTheHintWhileItStays)
{
    Create({});
    size_t before = Modifies();
    Poll();
    EXPECT_EQ(Modifies(), before) << "nothing changed, nothing sent";

    Scenario.Write({L"conn\t1\tconnected\tA"});
    Poll();
    EXPECT_EQ(Form->trayMain->IconIndex(), 1);
    EXPECT_EQ(Form->trayMain->Hint(), L"A");
    EXPECT_EQ(Tray.Records.back().Tip, L"A");

    // A went down and B came up between two ticks: still connected, hint kept.
    Scenario.Write({L"conn\t2\tconnected\tB"});
    before = Modifies();
    Poll();
    EXPECT_EQ(Form->trayMain->Hint(), L"A");
    EXPECT_EQ(Modifies(), before);

    Scenario.Write({L"conn\t2\tconnecting\tB"});
    Poll();
    EXPECT_EQ(Form->trayMain->IconIndex(), 0);
    EXPECT_EQ(Form->trayMain->Hint(), L"Disconnected");

    // A failing query counts as disconnected.
    Scenario.Write({L"conn\t1\tconnected\tA"});
    Poll();
    Scenario.Write({L"conn\t1\tconnected\tA", L"fail\tRasEnumConnectionsW\t5"});
    Poll();
    EXPECT_EQ(Form->trayMain->IconIndex(), 0);
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

TEST_F(MainFormTest, LeftAndRightButtonsOpenTheMenuTheMiddleDoesNot)
{
    Create({});
    int popups = 0;
    Form->popupMain->OnPopup = [&](TObject*) {
        ++popups;
        // Close the menu once it is on screen.
        SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR AId, DWORD) {
            KillTimer(nullptr, AId);
            EndMenu();
        });
    };
    auto release = [&](LPARAM AMessage) {
        SendMessageW(Form->trayMain->Window(), fw::TTrayIcon::KCallbackMessage, 1, AMessage);
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

TEST_F(MainFormTest, ExitOfTheMainFormEndsTheMessageLoop)
{
    Create({});
    // Not the application's main form here: closing only hides it.
    Form->menuExit->Click();
    EXPECT_FALSE(IsWindowVisible(Form->Handle()));
}

} // namespace
