// The version dialog, created and driven in-process.
#include <gtest/gtest.h>

#include <windows.h>

#include <functional>
#include <sstream>
#include <string>
#include <utility>

#include "framework/Application.h"
#include "framework/Handles.h"
#include "net_vpn/Net.VPN.Win.h"
#include "settings/uAutoRun.h"
#include "tests/TestSupport.h"
#include "ui/uVersion.h"

namespace {

using namespace fw;
using uVersion::TfrmVersion;

constexpr wchar_t KRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// Runs AAction once, from a timer, once the modal loop that follows is running;
// given up if the returned owner goes first.
[[nodiscard]] test::TRunSoon WhenModal(std::function<void()> AAction)
{
    return test::TRunSoon([AAction = std::move(AAction)] {
        AAction();
        return true;
    });
}

// The visible version dialog (a closed one may linger hidden until released).
HWND VersionWindow()
{
    for (HWND wnd = nullptr; (wnd = FindWindowExW(nullptr, wnd, L"TfrmVersion", nullptr));)
        if (IsWindowVisible(wnd)) return wnd;
    return nullptr;
}

void PostKey(HWND AWnd, UINT AKey, bool AChar = false)
{
    PostMessageW(AWnd, WM_KEYDOWN, AKey, 1);
    if (AChar) PostMessageW(AWnd, WM_CHAR, towlower(AKey), 1);
    PostMessageW(AWnd, WM_KEYUP, AKey, 0xC0000001);
}

// This thread's keyboard state with AKey held or released, as the dialog's
// loop reads it for the messages that follow.
void HoldKey(BYTE AKey, bool AHeld)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[AKey] = AHeld ? 0x80 : 0;
    SetKeyboardState(keys);
}

// While it lives, every window is at ADpi as far as the program asks: a
// dialog made meanwhile is created at that DPI.
class TDpiScope {
public:
    explicit TDpiScope(UINT ADpi)
        : FPrevious(std::exchange(GDpi, ADpi)),
          FScope([](TServices& AServices) { AServices.WindowDpi = [](HWND) { return GDpi; }; })
    {
    }
    ~TDpiScope() { GDpi = FPrevious; }
    TDpiScope(const TDpiScope&) = delete;
    TDpiScope& operator=(const TDpiScope&) = delete;

private:
    static inline UINT GDpi = USER_DEFAULT_SCREEN_DPI;
    UINT FPrevious;
    test::TServicesScope FScope;
};

// All that a DPI decides of the dialog, one control a line: its rectangle and
// font height, for the system's controls also those of their windows, for
// images the picture's size; and the client size.
std::string Layout(const TfrmVersion& AForm)
{
    std::ostringstream out;
    RECT client{};
    GetClientRect(AForm.Handle(), &client);
    out << "client " << client.right << "x" << client.bottom << " asked " << AForm.ClientWidth() << "x"
        << AForm.ClientHeight() << "\n";
    const TControl* controls[] = {AForm.imgLogo.get(),      AForm.lblTitle.get(),     AForm.lblVersion.get(),
                                  AForm.btnClose.get(),     AForm.chbxAutoRun.get(),  AForm.lblAutoRun.get(),
                                  AForm.lblCopyright.get(), AForm.lblBuiltWith.get(), AForm.imgBuiltWith.get()};
    for (const TControl* control : controls) {
        out << std::string(control->Name.begin(), control->Name.end()) << " " << control->Left << "," << control->Top
            << " " << control->Width << "x" << control->Height << " font " << control->Font.Height;
        if (const auto* windowed = dynamic_cast<const TWinControl*>(control)) {
            RECT r{};
            GetWindowRect(windowed->Handle(), &r);
            MapWindowPoints(nullptr, AForm.Handle(), reinterpret_cast<POINT*>(&r), 2);
            LOGFONTW font{};
            GetObjectW(reinterpret_cast<HFONT>(SendMessageW(windowed->Handle(), WM_GETFONT, 0, 0)), sizeof(font),
                       &font);
            out << " | window " << r.left << "," << r.top << " " << r.right - r.left << "x" << r.bottom - r.top
                << " font " << -font.lfHeight;
        }
        if (const auto* image = dynamic_cast<const TImage*>(control))
            out << " | picture " << image->Picture.Width() << "x" << image->Picture.Height();
        out << "\n";
    }
    return out.str();
}

struct TCreated {
    std::string Layout;
    SIZE Window; // the window's outer size
};

// How a dialog created at ADpi is laid out.
TCreated CreatedAt(UINT ADpi)
{
    TDpiScope dpi(ADpi);
    TfrmVersion form(*Application);
    form.DoCreate();
    RECT r{};
    GetWindowRect(form.Handle(), &r);
    return {Layout(form), {r.right - r.left, r.bottom - r.top}};
}

// Tells AForm that its window is now on a monitor at ADpi, with the window
// rectangle that the system suggests there: ACreated's size at ATopLeft.
RECT SendDpiChanged(const TfrmVersion& AForm, UINT ADpi, const TCreated& ACreated, POINT ATopLeft)
{
    RECT suggested{ATopLeft.x, ATopLeft.y, ATopLeft.x + ACreated.Window.cx, ATopLeft.y + ACreated.Window.cy};
    EXPECT_EQ(SendMessageW(AForm.Handle(), WM_DPICHANGED, MAKEWPARAM(ADpi, ADpi), reinterpret_cast<LPARAM>(&suggested)),
              0);
    return suggested;
}

class VersionTest : public testing::Test {
protected:
    VersionTest() { RegDeleteKeyValueW(HKEY_CURRENT_USER, KRunKey, L"Tarnwick"); }
    ~VersionTest() override { RegDeleteKeyValueW(HKEY_CURRENT_USER, KRunKey, L"Tarnwick"); }
};

TEST_F(VersionTest, LayoutAndCaptionsAt96Dpi)
{
    TfrmVersion form(*Application);
    form.DoCreate();
    ASSERT_EQ(form.ScaleFactor(), 1.0f);
    wchar_t caption[64] = {};
    GetWindowTextW(form.Handle(), caption, 64);
    EXPECT_STREQ(caption, L"Version Information");
    RECT client;
    GetClientRect(form.Handle(), &client);
    EXPECT_EQ(client.right, 624);
    EXPECT_EQ(client.bottom, 251);
    LONG_PTR style = GetWindowLongPtrW(form.Handle(), GWL_STYLE), ex = GetWindowLongPtrW(form.Handle(), GWL_EXSTYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME));
    EXPECT_TRUE(ex & WS_EX_TOPMOST);

    const struct {
        TControl* Control;
        int Left, Top, Width, Height;
    } fixed[] = {
        {form.imgLogo.get(), 8, 8, 128, 128},      {form.lblVersion.get(), 142, 70, 463, 33},
        {form.btnClose.get(), 221, 188, 181, 47},  {form.chbxAutoRun.get(), 8, 145, 337, 26},
        {form.imgBuiltWith.get(), 8, 191, 48, 48},
    };
    for (auto& f : fixed) {
        SCOPED_TRACE(testing::Message() << std::string(f.Control->Name.begin(), f.Control->Name.end()));
        EXPECT_EQ(f.Control->Left, f.Left);
        EXPECT_EQ(f.Control->Top, f.Top);
        EXPECT_EQ(f.Control->Width, f.Width);
        EXPECT_EQ(f.Control->Height, f.Height);
    }
    EXPECT_EQ(form.lblTitle->Top, -8);
    EXPECT_EQ(form.lblAutoRun->Top, 145) << "no nudge at 100 %";
    EXPECT_EQ(form.lblCopyright->Left + form.lblCopyright->Width, 605) << "right edge kept";
    EXPECT_EQ(form.lblTitle->Caption(), L"Tarn Wick");
    EXPECT_EQ(form.lblVersion->Caption(), L"Version 1.1.0");
    EXPECT_FALSE(form.chbxAutoRun->Checked());
    EXPECT_EQ(form.lblCopyright->TextColor(), RGB(255, 255, 255));
}

TEST_F(VersionTest, FollowsItsMonitorsDpiAsIfCreatedThereAndBackWithoutDrift)
{
    TDpiScope opened(96);
    TfrmVersion form(*Application);
    form.DoCreate();
    ShowWindow(form.Handle(), SW_SHOW);
    // What the user has done so far stays: the box ticked, the focus on it,
    // the pointer on the copyright line.
    form.chbxAutoRun->SetChecked(true);
    SetFocus(form.chbxAutoRun->Handle());
    ASSERT_EQ(GetFocus(), form.chbxAutoRun->Handle());
    RECT copyright = form.lblCopyright->BoundsRect();
    SendMessageW(form.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(copyright.left + 2, copyright.top + 2));
    ASSERT_EQ(form.lblCopyright->TextColor(), RGB(0, 255, 255));
    const std::string first = Layout(form);
    POINT topLeft{40, 30};

    for (UINT dpi : {144u, 192u, 120u, 96u}) {
        SCOPED_TRACE(testing::Message() << dpi << " DPI");
        TCreated created = CreatedAt(dpi);
        // Asked first, the window wants the size of one created there, so the
        // system's suggestion lays it out exactly.
        SIZE wanted{};
        EXPECT_TRUE(SendMessageW(form.Handle(), WM_GETDPISCALEDSIZE, dpi, reinterpret_cast<LPARAM>(&wanted)));
        EXPECT_EQ(std::make_pair(wanted.cx, wanted.cy), std::make_pair(created.Window.cx, created.Window.cy));
        topLeft.x += 10; // each monitor elsewhere
        RECT suggested = SendDpiChanged(form, dpi, created, topLeft);

        RECT window{};
        GetWindowRect(form.Handle(), &window);
        EXPECT_TRUE(EqualRect(&window, &suggested))
            << window.left << "," << window.top << " " << window.right << "," << window.bottom;
        EXPECT_EQ(Layout(form), created.Layout);
        EXPECT_EQ(form.ScaleFactor(), static_cast<float>(dpi) / 96.0f);
        EXPECT_EQ(form.lblAutoRun->Top,
                  MulDiv(145, static_cast<int>(dpi), 96) - uVersion::AutoRunLabelNudge(form.ScaleFactor()))
            << "nudged for the new scale";
        EXPECT_TRUE(form.chbxAutoRun->Checked());
        EXPECT_EQ(GetFocus(), form.chbxAutoRun->Handle());
        EXPECT_EQ(form.lblCopyright->TextColor(), RGB(0, 255, 255)) << "the pointer has not left it";
    }
    EXPECT_EQ(Layout(form), first) << "back at 96 DPI, exactly as opened";
}

TEST_F(VersionTest, ACaptionFormCreateNeverNudgedStaysUnnudgedAtAnotherDpi)
{
    // IsAutoRun fails on a value of another type, before FormCreate nudges.
    DWORD number = 1;
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, KRunKey, L"Tarnwick", REG_DWORD, &number, sizeof(number)),
              ERROR_SUCCESS);
    test::TBoxCatcher boxes;
    TCreated created = CreatedAt(144);
    TDpiScope opened(96);
    TfrmVersion form(*Application);
    form.DoCreate();
    ASSERT_EQ(boxes.Texts.size(), 2u) << "both FormCreates failed";

    SendDpiChanged(form, 144, created, POINT{50, 40});
    EXPECT_EQ(form.lblAutoRun->Top, MulDiv(145, 144, 96));
    EXPECT_EQ(Layout(form), created.Layout);
}

TEST(VersionNudge, RoundsHalfToEven)
{
    const std::pair<float, int> cases[] = {{1.0f, 0}, {1.25f, 0}, {1.5f, 1}, {1.75f, 2},
                                           {2.0f, 2}, {2.5f, 3},  {3.0f, 4}};
    for (auto [scale, nudge] : cases) EXPECT_EQ(uVersion::AutoRunLabelNudge(scale), nudge) << scale;
}

TEST(VersionFallback, NamesTheExplorerByItsFullPathInExact8BitText)
{
    const struct {
        const wchar_t* Folder;
        UINT CodePage;
        const char* Command; // empty: nothing is run
    } cases[] = {
        {L"C:\\windows", 1252, "C:\\windows\\explorer.exe https://x.example/"},
        {L"D:\\", 1252, "D:\\explorer.exe https://x.example/"},
        {L"C:\\Win dows", 1252, "\"C:\\Win dows\\explorer.exe\" https://x.example/"},
        {L"C:\\Wind\u00F6ws", 1252, "C:\\Wind\xF6ws\\explorer.exe https://x.example/"},
        {L"C:\\Wind\u00F6ws", CP_UTF8, "C:\\Wind\xC3\xB6ws\\explorer.exe https://x.example/"},
        {L"C:\\\uFF02 x", 1252, ""}, // best fit would make the fullwidth quote a real one
        {L"C:\\\u7A97", 1252, ""},
        {L"C:\\\xD800", CP_UTF8, ""},
        {L"", 1252, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << &c - cases);
        EXPECT_EQ(uVersion::ExplorerCommandLine(c.Folder, L"https://x.example/", c.CodePage), c.Command);
    }
}

TEST_F(VersionTest, TheCheckBoxStartsFromTheRegistry)
{
    ASSERT_TRUE(uAutoRun::RegisterAutoRun(L"Tarnwick"));
    TfrmVersion form(*Application);
    form.DoCreate();
    EXPECT_TRUE(form.chbxAutoRun->Checked());
}

TEST_F(VersionTest, CopyrightTurnsCyanUnderThePointerAndWhiteAgainAfter)
{
    TfrmVersion form(*Application);
    form.DoCreate();
    RECT r = form.lblCopyright->BoundsRect();
    SendMessageW(form.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(r.left + 2, r.top + 2));
    EXPECT_EQ(form.lblCopyright->TextColor(), RGB(0, 255, 255));
    SendMessageW(form.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(2, 2));
    EXPECT_EQ(form.lblCopyright->TextColor(), RGB(255, 255, 255));
    SendMessageW(form.Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(r.left + 2, r.top + 2));
    SendMessageW(form.Handle(), WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(form.lblCopyright->TextColor(), RGB(255, 255, 255));
}

TEST_F(VersionTest, ModalResults)
{
    const struct {
        const char* Title;
        std::function<void(TfrmVersion&)> Action;
        int Result;
    } cases[] = {
        {"Esc", [](TfrmVersion& f) { PostKey(f.btnClose->Handle(), VK_ESCAPE); }, 1},
        {"Enter", [](TfrmVersion& f) { PostKey(f.chbxAutoRun->Handle(), VK_RETURN); }, 1},
        {"C", [](TfrmVersion& f) { PostKey(f.chbxAutoRun->Handle(), 'C', true); }, 1},
        {"Alt+C", [](TfrmVersion& f) { PostMessageW(f.chbxAutoRun->Handle(), WM_SYSCHAR, 'c', 1 << 29); }, 1},
        {"Space on the button", [](TfrmVersion& f) { PostKey(f.btnClose->Handle(), VK_SPACE); }, 1},
        {"close box", [](TfrmVersion& f) { PostMessageW(f.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); }, 2},
        // With a modifier held Enter and Esc do nothing: the close box ends it.
        {"Shift+Enter, then the close box",
         [](TfrmVersion& f) {
             HoldKey(VK_SHIFT, true);
             PostKey(f.btnClose->Handle(), VK_RETURN);
             PostMessageW(f.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
         },
         2},
        {"Ctrl+Esc, then the close box",
         [](TfrmVersion& f) {
             HoldKey(VK_CONTROL, true);
             PostKey(f.btnClose->Handle(), VK_ESCAPE);
             PostMessageW(f.Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
         },
         2},
        {"a click on Close with Shift held",
         [](TfrmVersion& f) {
             HoldKey(VK_SHIFT, true);
             PostMessageW(f.btnClose->Handle(), BM_CLICK, 0, 0);
         },
         1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        TfrmVersion form(*Application);
        form.DoCreate();
        auto modal = WhenModal([&] { c.Action(form); });
        EXPECT_EQ(form.ShowModal(), c.Result);
        HoldKey(VK_SHIFT, false);
        HoldKey(VK_CONTROL, false);
    }
}

TEST_F(VersionTest, ShowVersionAppliesTheCheckBoxOnResultOneOnly)
{
    // Unchecking and pressing Esc removes the value; the close box keeps it.
    const struct {
        const char* Title;
        UINT Close; // 0: Esc; else a system command
        bool Registered;
    } cases[] = {{"Esc", 0, false}, {"close box", SC_CLOSE, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        ASSERT_TRUE(uAutoRun::RegisterAutoRun(L"Tarnwick"));
        bool taskbarShown = false;
        auto modal = WhenModal([&] {
            HWND wnd = VersionWindow();
            taskbarShown = IsWindowVisible(Application->Handle());
            HWND box = FindWindowExW(wnd, nullptr, L"Button", L"Launch automatically when Windows starts");
            SendMessageW(box, BM_CLICK, 0, 0);
            if (c.Close)
                PostMessageW(wnd, WM_SYSCOMMAND, c.Close, 0);
            else
                PostKey(GetFocus(), VK_ESCAPE);
        });
        uVersion::ShowVersion();
        EXPECT_TRUE(taskbarShown) << "the program has a taskbar button while the dialog is up";
        EXPECT_FALSE(IsWindowVisible(Application->Handle()));
        EXPECT_EQ(uAutoRun::IsAutoRun(L"Tarnwick"), c.Registered);
        test::PumpPending();
        EXPECT_EQ(VersionWindow(), nullptr) << "released after closing";
    }
}

TEST_F(VersionTest, ACompletionRunsInsideTheDialogsModalLoop)
{
    test::TRasScenario scenario;
    scenario.Write({L"entry\tvpn\tOffice", L"dial\t0\t100\tOffice"});
    TfrmVersion form(*Application);
    form.DoCreate();
    bool ranInDialog = false;
    auto modal = WhenModal([&] {
        NetVPNWin::TVPNInfo::Create(nullptr, L"Office").Connect([&](const NetVPNWin::TVPNInfo&, bool) {
            ranInDialog = IsWindowVisible(form.Handle()) != FALSE;
            form.ModalResult = 2;
        });
    });
    form.ShowModal();
    EXPECT_TRUE(ranInDialog);
}

TEST_F(VersionTest, ASecondDialogOnTopOfTheFirstAppliesItsOwnCheckBox)
{
    int opened = 0;
    std::function<void()> second = [&] {
        ++opened;
        HWND top = VersionWindow();
        SendMessageW(FindWindowExW(top, nullptr, L"Button", L"Launch automatically when Windows starts"), BM_CLICK, 0,
                     0);
        PostKey(GetFocus(), VK_RETURN);
    };
    auto modal = WhenModal([&] {
        ++opened;
        auto inner = WhenModal(second);
        uVersion::ShowVersion(); // the second, inside the first's modal loop
        PostMessageW(VersionWindow(), WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    uVersion::ShowVersion();
    EXPECT_EQ(opened, 2);
    EXPECT_TRUE(uAutoRun::IsAutoRun(L"Tarnwick")) << "the second dialog's check applied; the first discarded";
}

} // namespace
