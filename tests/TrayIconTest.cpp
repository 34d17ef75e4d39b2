// The tray icon as the shell sees it: what it sends, when, at which size, and
// how it keeps at a shell that refuses it.
#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "framework/Classes.h"
#include "framework/ImgList.h"
#include "framework/Services.h"
#include "framework/TrayIcon.h"
#include "tests/TestSupport.h"

namespace {

using namespace fw;
using namespace std::chrono_literals;

// ---- the tray icon as the shell sees it ----

class TrayIconTest : public testing::Test {
protected:
    TrayIconTest() : Images(24, 24)
    {
        Images.AddResourceIcon(L"TRAYDISCONNECTED");
        Images.AddResourceIcon(L"TRAYCONNECTED");
        Icon.SetIcons(&Images);
        Icon.SetVisible(true);
    }
    test::TFakeTray Tray; // first, so it sees the icon being added
    TImageList Images;
    TComponent Owner;
    TTrayIcon Icon{&Owner};
};

TEST_F(TrayIconTest, ChangesReachTheShellOnlyWhenTheyChangeSomething)
{
    ASSERT_EQ(Tray.Records.size(), 1u);
    EXPECT_EQ(Tray.Records[0].Message, static_cast<DWORD>(NIM_ADD));
    EXPECT_FALSE(Tray.Records[0].Flags & NIF_TIP) << "no tip while the hint is empty";

    Icon.SetIconIndex(0);
    Icon.SetHint(L"");
    EXPECT_EQ(Tray.Records.size(), 1u);

    Icon.SetHint(L"Office");
    Icon.SetHint(L"Office");
    Icon.SetIconIndex(1);
    Icon.SetIconIndex(1);
    ASSERT_EQ(Tray.Records.size(), 3u);
    EXPECT_EQ(Tray.Records[1].Message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_TRUE(Tray.Records[1].Flags & NIF_TIP);
    EXPECT_EQ(Tray.Records[1].Tip, L"Office");
    EXPECT_NE(Tray.Records[2].IconBits, Tray.Records[0].IconBits) << "image 1 differs from image 0";
}

TEST_F(TrayIconTest, TextsAreCutToTheShellsLimitsNeverInsideASurrogatePair)
{
    std::wstring tip(126, L'a');
    tip += L"\U0001F512"; // a pair across the 127-unit limit
    Icon.SetHint(tip);
    EXPECT_EQ(Tray.Records.back().Tip, std::wstring(126, L'a'));

    Icon.SetHint(std::wstring(200, L'b'));
    EXPECT_EQ(Tray.Records.back().Tip, std::wstring(127, L'b'));

    Icon.BalloonHint = std::wstring(300, L'c');
    Icon.BalloonTitle = std::wstring(62, L't') + L"\U0001F512";
    Icon.BalloonTimeout = 50000;
    Icon.BalloonFlags = bfWarning;
    Icon.ShowBalloonHint();
    const auto& balloon = Tray.Records.back();
    EXPECT_TRUE(balloon.Flags & NIF_INFO);
    EXPECT_EQ(balloon.Info, std::wstring(255, L'c'));
    EXPECT_EQ(balloon.InfoTitle, std::wstring(62, L't'));
    EXPECT_EQ(balloon.Timeout, 50000u);
    EXPECT_EQ(balloon.InfoFlags, static_cast<DWORD>(NIIF_WARNING));
}

TEST_F(TrayIconTest, ABalloonIsShownOnceNotAgainWithTheNextChange)
{
    Icon.BalloonHint = L"Office: Connected";
    Icon.ShowBalloonHint();
    EXPECT_TRUE(Tray.Records.back().Flags & NIF_INFO);
    Icon.SetIconIndex(1);
    Icon.SetHint(L"Disconnected");
    EXPECT_FALSE(Tray.Records[Tray.Records.size() - 2].Flags & NIF_INFO);
    EXPECT_FALSE(Tray.Records.back().Flags & NIF_INFO);
}

TEST_F(TrayIconTest, BalloonFlagIsClearedWhenTheShellHidesTheBalloon)
{
    Icon.BalloonHint = L"Office: Connected";
    Icon.ShowBalloonHint();
    SendMessageW(Icon.Window(), TTrayIcon::KCallbackMessage, 1, NIN_BALLOONTIMEOUT);
    Icon.SetHint(L"x");
    EXPECT_FALSE(Tray.Records.back().Flags & NIF_INFO);

    Icon.ShowBalloonHint();
    SendMessageW(Icon.Window(), TTrayIcon::KCallbackMessage, 1, NIN_BALLOONHIDE);
    Icon.SetHint(L"y");
    EXPECT_FALSE(Tray.Records.back().Flags & NIF_INFO);
}

TEST_F(TrayIconTest, ShellRestartAndSessionEnd)
{
    SendMessageW(Icon.Window(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
    EXPECT_EQ(Tray.Records.back().Message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(SendMessageW(Icon.Window(), WM_QUERYENDSESSION, 0, 0), 1);
    SendMessageW(Icon.Window(), WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(Tray.Records.back().Message, static_cast<DWORD>(NIM_DELETE));
}

// Restart Manager closes a program with WM_ENDSESSION and ENDSESSION_CLOSEAPP to
// each top-level window; a log-off or shutdown sends it without the flag.
TEST_F(TrayIconTest, OnlyRestartManagersCloseEndsTheLoopFromAnyWindow)
{
    auto quitPosted = [] {
        MSG msg;
        return PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    };
    test::THost other;
    const struct {
        const char* Title;
        WPARAM Ending;
        LPARAM Flags;
        bool Quits;
    } cases[] = {
        {"Restart Manager", TRUE, ENDSESSION_CLOSEAPP, true},
        {"with the log-off flag too", TRUE, ENDSESSION_CLOSEAPP | ENDSESSION_LOGOFF, true},
        {"log-off", TRUE, ENDSESSION_LOGOFF, false},
        {"shutdown", TRUE, 0, false},
        {"the session goes on", FALSE, ENDSESSION_CLOSEAPP, false},
    };
    for (const auto& c : cases) {
        for (HWND wnd : {Icon.Window(), other.Handle()}) {
            SCOPED_TRACE(testing::Message()
                         << c.Title << (wnd == other.Handle() ? ", another window" : ", the icon's"));
            EXPECT_EQ(SendMessageW(wnd, WM_QUERYENDSESSION, 0, c.Flags), 1);
            SendMessageW(wnd, WM_ENDSESSION, c.Ending, c.Flags);
            EXPECT_EQ(quitPosted(), c.Quits);
        }
    }
}

TEST_F(TrayIconTest, TheShellGetsTheImageDrawnForItsSmallIconSize)
{
    ASSERT_FALSE(Tray.Records.empty());
    EXPECT_EQ(Tray.Records[0].IconWidth, static_cast<unsigned>(GetSystemMetrics(SM_CXSMICON)));
    size_t sent = Tray.Records.size();
    SendMessageW(Icon.Window(), WM_DISPLAYCHANGE, 32, 0);
    EXPECT_EQ(Tray.Records.size(), sent) << "the size stayed, so nothing is re-sent";

    // After a display or settings change the icon asks its window's DPI again
    // (the test prefix's 96): from the 32-pixel image of 192 DPI back to 16.
    const std::vector<BYTE> atStart = Tray.Records[0].IconBits;
    RECT suggested{0, 0, 200, 200};
    const struct {
        const char* Title;
        UINT Message;
        WPARAM WParam;
        LPARAM LParam;
    } changes[] = {
        {"display change", WM_DISPLAYCHANGE, 32, MAKELPARAM(1000, 700)},
        {"settings change", WM_SETTINGCHANGE, SPI_SETNONCLIENTMETRICS, 0},
    };
    for (const auto& change : changes) {
        SCOPED_TRACE(change.Title);
        SendMessageW(Icon.Window(), WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
        ASSERT_EQ(Tray.Records.back().IconWidth, 32u);
        sent = Tray.Records.size();
        SendMessageW(Icon.Window(), change.Message, change.WParam, change.LParam);
        ASSERT_EQ(Tray.Records.size(), sent + 1) << "the new size was not sent";
        EXPECT_EQ(Tray.Records.back().Message, static_cast<DWORD>(NIM_MODIFY));
        EXPECT_EQ(Tray.Records.back().IconWidth, 16u);
        EXPECT_EQ(Tray.Records.back().IconBits, atStart);
    }
}

TEST_F(TrayIconTest, ADpiChangeHandsTheShellTheImageDrawnForTheDpiInTheMessage)
{
    ASSERT_EQ(Tray.Records.size(), 1u);
    ASSERT_EQ(Tray.Records[0].IconWidth, 16u) << "the test prefix runs at 96 DPI";
    const std::vector<BYTE> atStart = Tray.Records[0].IconBits;
    RECT suggested{0, 0, 200, 200};
    auto dpiChanged = [&](UINT ADpi) {
        SendMessageW(Icon.Window(), WM_DPICHANGED, MAKEWPARAM(ADpi, ADpi), reinterpret_cast<LPARAM>(&suggested));
    };
    // The system's DPI stays 96 throughout: the new one is known from the message alone.
    const struct {
        UINT Dpi;
        unsigned Size;
    } changes[] = {{192, 32}, {144, 24}, {96, 16}};
    for (const auto& change : changes) {
        dpiChanged(change.Dpi);
        ASSERT_EQ(Tray.Records.back().Message, static_cast<DWORD>(NIM_MODIFY)) << change.Dpi << " DPI";
        EXPECT_EQ(Tray.Records.back().IconWidth, change.Size) << change.Dpi << " DPI";
    }
    EXPECT_EQ(Tray.Records.back().IconBits, atStart) << "back at 96 DPI, the image it started with";
    size_t sent = Tray.Records.size();
    dpiChanged(96);
    EXPECT_EQ(Tray.Records.size(), sent) << "the size stayed, so nothing is re-sent";
}

TEST_F(TrayIconTest, MouseUpReportsTheButton)
{
    std::vector<TMouseButton> buttons;
    Icon.OnMouseUp = [&](TObject* ASender, TMouseButton AButton, TShiftState, int, int) {
        EXPECT_EQ(ASender, &Icon);
        buttons.push_back(AButton);
    };
    for (LPARAM m : {WM_LBUTTONUP, WM_MBUTTONUP, WM_LBUTTONDOWN, WM_RBUTTONUP})
        SendMessageW(Icon.Window(), TTrayIcon::KCallbackMessage, 1, m);
    // No popup menu is attached, so the right button only reports.
    EXPECT_EQ(buttons,
              (std::vector<TMouseButton>{TMouseButton::mbLeft, TMouseButton::mbMiddle, TMouseButton::mbRight}));
}

// ---- the tray icon against a shell that refuses it ----

class TrayIconRetryTest : public testing::Test {
protected:
    static constexpr unsigned KFirstDelay = 20; // ms; then 40, 80, ...

    TrayIconRetryTest() : Images(24, 24)
    {
        Images.AddResourceIcon(L"TRAYDISCONNECTED");
        Images.AddResourceIcon(L"TRAYCONNECTED");
    }

    std::unique_ptr<TTrayIcon> NewIcon()
    {
        auto icon = std::make_unique<TTrayIcon>(&Owner);
        icon->SetIcons(&Images);
        return icon;
    }

    // What the tray was told from record AFrom on: message and answer.
    std::vector<std::pair<DWORD, bool>> Told(size_t AFrom) const
    {
        std::vector<std::pair<DWORD, bool>> told;
        for (size_t i = AFrom; i < Tray.Records.size(); ++i)
            told.emplace_back(Tray.Records[i].Message, Tray.Records[i].Accepted);
        return told;
    }

    // Long enough for several more tries, had the retry not ended.
    static void PumpQuietly()
    {
        test::PumpUntil([] { return false; }, 400ms);
    }

    test::TServicesScope QuickRetry{[](TServices& AServices) { AServices.TrayRetryDelay = KFirstDelay; }};
    test::TFakeTray Tray;
    TImageList Images;
    TComponent Owner;
};

TEST_F(TrayIconRetryTest, ARefusedAddIsRetriedUntilTheShellTakesItWithEverythingChangedMeanwhile)
{
    for (bool shellRestart : {false, true}) {
        SCOPED_TRACE(shellRestart ? "refused after a shell restart" : "refused at start-up");
        Tray.Records.clear();
        Tray.Refuse = false;
        auto icon = NewIcon();
        if (shellRestart) icon->SetVisible(true);
        Tray.Refuse = true;
        if (shellRestart) {
            Tray.LoseIcons(); // a shell that restarts starts empty
            SendMessageW(icon->Window(), RegisterWindowMessageW(L"TaskbarCreated"), 0, 0);
        } else {
            icon->SetVisible(true);
        }
        ASSERT_EQ(Told(Tray.Records.size() - 1), (std::vector<std::pair<DWORD, bool>>{{NIM_ADD, false}}));
        const std::vector<BYTE> image0 = Tray.Records.back().IconBits;
        size_t waiting = Tray.Records.size();

        icon->SetHint(L"Office");
        icon->SetIconIndex(1);
        icon->BalloonHint = L"Office: Connected";
        icon->ShowBalloonHint();
        EXPECT_EQ(Tray.Records.size(), waiting) << "changes wait for the add";

        ASSERT_TRUE(test::PumpUntil([&] { return Tray.Records.size() >= waiting + 4; })) << "two more tries";
        Tray.Refuse = false;
        ASSERT_TRUE(test::PumpUntil([&] { return Tray.Records.back().Accepted; }));
        const auto added = Tray.Records.back();
        EXPECT_EQ(added.Message, static_cast<DWORD>(NIM_ADD));
        EXPECT_EQ(added.Tip, L"Office");
        EXPECT_TRUE(added.Flags & NIF_TIP);
        EXPECT_NE(added.IconBits, image0) << "image 1";
        EXPECT_TRUE(added.Flags & NIF_INFO);
        EXPECT_EQ(added.Info, L"Office: Connected");

        size_t done = Tray.Records.size();
        PumpQuietly();
        EXPECT_EQ(Tray.Records.size(), done) << "the retry ended";
        icon->SetHint(L"Disconnected");
        EXPECT_EQ(Told(done), (std::vector<std::pair<DWORD, bool>>{{NIM_MODIFY, true}}));
        EXPECT_FALSE(Tray.Records.back().Flags & NIF_INFO) << "the balloon was shown once";
    }
}

TEST_F(TrayIconRetryTest, ARefusedChangeEndsOnceTheIconIsFoundInTheShell)
{
    struct TCase {
        const char* Title;
        bool Lost; // else the shell refuses the one change while it holds the icon
        std::vector<std::pair<DWORD, bool>> Told;
    };
    const TCase cases[] = {
        {"the shell lost the icon", true, {{NIM_MODIFY, false}, {NIM_ADD, true}}},
        {"the shell refused one change", false, {{NIM_MODIFY, false}, {NIM_ADD, false}, {NIM_MODIFY, true}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        auto icon = NewIcon();
        icon->SetVisible(true);
        ASSERT_TRUE(Tray.Records.back().Accepted);
        size_t from = Tray.Records.size();
        if (c.Lost) Tray.LoseIcons();
        Tray.Refuse = !c.Lost;
        icon->SetHint(L"Office");
        Tray.Refuse = false;

        ASSERT_TRUE(test::PumpUntil([&] { return Tray.Records.back().Accepted; }));
        EXPECT_EQ(Tray.Records.back().Tip, L"Office");
        PumpQuietly();
        EXPECT_EQ(Told(from), c.Told);
    }
}

TEST_F(TrayIconRetryTest, HidingTheIconStopsTheRetry)
{
    auto icon = NewIcon();
    Tray.Refuse = true;
    icon->SetVisible(true);
    icon->SetVisible(false);
    Tray.Refuse = false;
    PumpQuietly();
    EXPECT_EQ(Told(0), (std::vector<std::pair<DWORD, bool>>{{NIM_ADD, false}, {NIM_DELETE, false}}));
}

} // namespace
