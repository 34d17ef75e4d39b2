// The theme beyond the program's own windows: message boxes drawn in it, and
// a high-contrast scheme, whose colours the theme never overrides.
#include <gtest/gtest.h>

#include <windows.h>

#include "framework/Application.h"
#include "framework/Menus.h"
#include "framework/Styles.h"
#include "tests/TestSupport.h"
#include "ui/uVersion.h"

namespace {

using namespace fw;

bool GContrast = false;

class ThemeTest : public testing::Test {
protected:
    ThemeTest()
    {
        GContrast = false;
        TStyleManager::Reset();
        EXPECT_TRUE(TStyleManager::TrySetStyle(L"Glow", false));
        Theme = *TStyleManager::ActiveStyle();
    }
    ~ThemeTest() override { TStyleManager::Reset(); }

    // Stands in for the system's answer: Wine's is always "off".
    test::TServicesScope Contrast{[](TServices& AServices) { AServices.HighContrast = [] { return GContrast; }; }};

    static void SwitchHighContrast(bool AOn)
    {
        GContrast = AOn;
        SendMessageW(Application->Handle(), WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
    }

    // Shows a message box and reads, while it is up, the colour it paints its
    // background with and the texts of its controls by class.
    struct TBoxRead {
        COLORREF Background = CLR_INVALID;
        std::wstring Text, Button;
    };
    static TBoxRead ReadBox()
    {
        TBoxRead read;
        test::TRunSoon look([&] {
            HWND box = nullptr;
            EnumThreadWindows(
                GetCurrentThreadId(),
                [](HWND AWnd, LPARAM AFound) -> BOOL {
                    wchar_t name[16] = {};
                    GetClassNameW(AWnd, name, 16);
                    if (std::wstring_view(name) != L"#32770" || !IsWindowVisible(AWnd)) return TRUE;
                    *reinterpret_cast<HWND*>(AFound) = AWnd;
                    return FALSE;
                },
                reinterpret_cast<LPARAM>(&box));
            if (!box) return false;
            HDC dc = GetDC(box);
            auto brush = reinterpret_cast<HBRUSH>(
                SendMessageW(box, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(box)));
            ReleaseDC(box, dc);
            LOGBRUSH logBrush{};
            if (brush && GetObjectW(brush, sizeof(logBrush), &logBrush)) read.Background = logBrush.lbColor;
            wchar_t text[256] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 256);
            read.Text = text;
            HWND ok = FindWindowExW(box, nullptr, L"Button", nullptr);
            GetWindowTextW(ok, text, 256);
            read.Button = text;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return true;
        });
        EXPECT_EQ(MessageBoxW(Application->Handle(), L"abc.", L"Tarnwick", MB_OK | MB_ICONSTOP), IDOK);
        return read;
    }

    TStyle Theme;
};

TEST_F(ThemeTest, AMessageBoxIsDrawnInTheThemeItsTextsUnchanged)
{
    TBoxRead themed = ReadBox();
    EXPECT_EQ(themed.Background, Theme.Color(TStyleColor::Window));
    EXPECT_EQ(themed.Text, L"abc.");
    EXPECT_EQ(themed.Button, L"OK");

    TStyleManager::Reset();
    TBoxRead plain = ReadBox();
    EXPECT_NE(plain.Background, Theme.Color(TStyleColor::Window)) << "no theme, no themed box";
    EXPECT_EQ(plain.Text, L"abc.");
}

TEST_F(ThemeTest, HighContrastSetsTheThemeAsideUntilItIsSwitchedOff)
{
    test::THost host;
    TPopupMenu menu(host);
    menu.Add(std::make_unique<TMenuItem>(L"E&xit"));
    uVersion::TfrmVersion dialog(*Application);
    dialog.DoCreate();
    auto ownerDrawn = [&] { return (GetMenuState(menu.Handle(), 0, MF_BYPOSITION) & MF_OWNERDRAW) != 0; };
    ASSERT_TRUE(ownerDrawn());
    ASSERT_EQ(dialog.lblCopyright->TextColor(), RGB(255, 255, 255));

    SwitchHighContrast(true);
    EXPECT_EQ(TStyleManager::ActiveStyle(), nullptr);
    EXPECT_FALSE(ownerDrawn()) << "the menu keeps the theme";
    EXPECT_EQ(dialog.BackgroundColor(), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(dialog.lblTitle->TextColor(), GetSysColor(COLOR_WINDOWTEXT));
    EXPECT_EQ(dialog.lblCopyright->TextColor(), GetSysColor(COLOR_WINDOWTEXT)) << "the copyright's own white stays";
    EXPECT_NE(ReadBox().Background, Theme.Color(TStyleColor::Window)) << "the box keeps the theme";

    SwitchHighContrast(false);
    EXPECT_NE(TStyleManager::ActiveStyle(), nullptr);
    EXPECT_TRUE(ownerDrawn());
    EXPECT_EQ(dialog.BackgroundColor(), Theme.Color(TStyleColor::Window));
    EXPECT_EQ(dialog.lblCopyright->TextColor(), RGB(255, 255, 255));
    EXPECT_EQ(ReadBox().Background, Theme.Color(TStyleColor::Window));
}

TEST_F(ThemeTest, HighContrastOnAtStartKeepsTheSystemsLook)
{
    TStyleManager::Reset();
    GContrast = true;
    ASSERT_TRUE(TStyleManager::TrySetStyle(L"Glow", false)) << "the theme is still found";
    EXPECT_EQ(TStyleManager::ActiveStyle(), nullptr);
    SwitchHighContrast(false);
    EXPECT_NE(TStyleManager::ActiveStyle(), nullptr);
}

} // namespace
