// The widget layer: the hand-off queue, the failure boxes, themes, the image
// list, and the menus' keyboard handling.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <optional>
#include <thread>

#include "framework/Application.h"
#include "framework/Exceptions.h"
#include "framework/ExtCtrls.h"
#include "framework/FailureBoxes.h"
#include "framework/ImgList.h"
#include "framework/Menus.h"
#include "framework/Modules.h"
#include "framework/Styles.h"
#include "framework/SyncQueue.h"
#include "framework/Synchronize.h"
#include "tests/TestSupport.h"

namespace {

using namespace fw;
using namespace std::chrono_literals;

// ---- the hand-off queue ----

TEST(SyncQueue, RunsRequestsInTheOrderHandedOverAndWorkersWaitForThem)
{
    std::atomic<int> wakes{0};
    TSyncQueue queue([&] { ++wakes; });
    std::vector<int> order;
    std::atomic<int> returned{0};
    std::vector<std::thread> workers;
    for (int i = 0; i < 3; ++i) {
        workers.emplace_back([&, i] {
            queue.Synchronize([&, i] { order.push_back(i); });
            ++returned;
        });
        // Each worker has queued before the next starts: one wake-up each.
        while (wakes.load() != i + 1) std::this_thread::yield();
    }
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(returned.load(), 0) << "a worker went on before its request ran";
    EXPECT_TRUE(queue.CheckSynchronize());
    for (auto& w : workers) w.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(returned.load(), 3);
    EXPECT_FALSE(queue.CheckSynchronize());
}

TEST(SyncQueue, AnExceptionIsRaisedAgainInTheWorkerNotOnTheUIThread)
{
    std::atomic<bool> queued{false};
    TSyncQueue queue([&] { queued = true; });
    std::wstring caught;
    std::thread worker(
        [&] { caught = test::ThrownMessage<Exception>([&] { queue.Synchronize([] { throw Exception(L"boom"); }); }); });
    while (!queued) std::this_thread::yield();
    EXPECT_NO_THROW(queue.CheckSynchronize());
    worker.join();
    EXPECT_EQ(caught, L"boom");
}

TEST(SyncQueue, RequestsRunInsideAnOpenMenusLoop)
{
    test::THost host;
    TPopupMenu menu(host);
    menu.Add(std::make_unique<TMenuItem>(L"&Item"));
    std::atomic<bool> ranInMenu{false};
    std::optional<test::TWorker> worker;
    menu.OnPopup = [&](TObject*) {
        worker.emplace([&] {
            fw::Synchronize([&] {
                ranInMenu = FindWindowW(L"#32768", nullptr) != nullptr;
                EndMenu();
            });
        });
    };
    // A hand-off that never runs in the menu's loop would leave the menu open.
    EXPECT_TRUE(test::MenuClosesWithin([&] {
        SetForegroundWindow(Application->Handle());
        menu.Popup(100, 100);
    })) << "the menu stayed open";
    ASSERT_TRUE(worker);
    EXPECT_TRUE(worker->JoinWithin()) << "the hand-off never ran";
    EXPECT_TRUE(ranInMenu.load());
}

TEST(Timer, ATickWhileAnEarlierTicksBoxIsOpenDoesNothing)
{
    test::THost host;
    TTimer timer(host);
    int ticks = 0;
    timer.OnTimer = [&](TObject*) {
        ++ticks;
        throw Exception(L"tick failed");
    };
    // Each box stays up for twenty intervals.
    test::TBoxCatcher boxes(400);
    timer.SetInterval(20);
    ASSERT_TRUE(test::PumpUntil([&] { return boxes.Texts.size() >= 2; }));
    timer.SetEnabled(false);
    EXPECT_EQ(boxes.MostOpen, 1) << "boxes stacked up";
    EXPECT_EQ(static_cast<size_t>(ticks), boxes.Texts.size()) << "a tick ran while a box was open";
    EXPECT_EQ(boxes.Texts[0], L"tick failed.");
}

// ---- boxes and titles ----

TEST(FailureBoxes, ExceptionTextIsTheInnermostMessageWithAFullStopRule)
{
    auto nested = [](std::wstring AOuter, std::wstring AInner) {
        try {
            try {
                throw Exception(AInner);
            } catch (...) {
                std::throw_with_nested(Exception(AOuter));
            }
        } catch (...) {
            return std::current_exception();
        }
    };
    EXPECT_EQ(ExceptionBoxText(std::make_exception_ptr(Exception(L"abc"))), L"abc.");
    EXPECT_EQ(ExceptionBoxText(std::make_exception_ptr(Exception(L"Stop!"))), L"Stop!");
    EXPECT_EQ(ExceptionBoxText(std::make_exception_ptr(Exception(L"done."))), L"done.");
    EXPECT_EQ(ExceptionBoxText(std::make_exception_ptr(Exception(L""))), L"");
    EXPECT_EQ(ExceptionBoxText(nested(L"outer", L"inner")), L"inner.");
    EXPECT_EQ(ExceptionBoxText(nested(L"outer", L"")), L"outer.");
}

TEST(FailureBoxes, EAbortIsSilent)
{
    EXPECT_TRUE(IsAbort(std::make_exception_ptr(EAbort(L""))));
    EXPECT_FALSE(IsAbort(std::make_exception_ptr(Exception(L"x"))));
}

TEST(FailureBoxes, LastChanceTextNamesClassModuleAddressAndMessage)
{
    std::exception_ptr error;
    try {
        throw EOSError(L"Access denied");
    } catch (...) {
        error = std::current_exception();
    }
    std::wstring text = LastChanceBoxText(error);
    std::wstring expectedStart = L"EOSError がモジュール tarnwick_tests.exe の ";
    EXPECT_EQ(text.substr(0, expectedStart.size()), expectedStart) << text;
    size_t at = expectedStart.size();
    ASSERT_GE(text.size(), at + 16);
    for (size_t i = 0; i < 16; ++i) EXPECT_TRUE(iswxdigit(text[at + i])) << text;
    EXPECT_EQ(text.substr(at + 16), L" で発生しました。\r\nAccess denied.\r\n");
}

TEST(FailureBoxes, RuntimeErrorText)
{
    EXPECT_EQ(RuntimeErrorBoxText(217, reinterpret_cast<void*>(0x140001a2bULL)),
              L"Runtime error 217 at 0000000140001A2B");
}

TEST(FailureBoxes, OSErrorsKeepTheirCodeAndAnAddressInTheRaisingModule)
{
    for (DWORD code : {static_cast<DWORD>(ERROR_ACCESS_DENIED), static_cast<DWORD>(ERROR_FILE_NOT_FOUND)}) {
        std::exception_ptr error;
        try {
            SetLastError(code);
            RaiseLastOSError();
        } catch (const EOSError& e) {
            EXPECT_EQ(e.ErrorCode(), code);
            EXPECT_EQ(e.Message(), SysErrorMessage(code));
            EXPECT_FALSE(e.Message().empty());
            error = std::current_exception();
        }
        ASSERT_TRUE(error);
        // An address in the raising module, for the last-chance box, as a plain throw has.
        HMODULE module = nullptr;
        EXPECT_TRUE(
            GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                               static_cast<LPCWSTR>(ExceptionAddress(error)), &module));
        EXPECT_EQ(module, GetModuleHandleW(nullptr));
    }
    try {
        RaiseOSError(ERROR_NOT_ENOUGH_MEMORY);
    } catch (const EOSError& e) {
        EXPECT_EQ(e.ErrorCode(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
        EXPECT_EQ(e.Message(), SysErrorMessage(ERROR_NOT_ENOUGH_MEMORY));
    }
}

TEST(ModuleFileName, TheWholePathOrNothingWhenItDoesNotFit)
{
    const std::wstring path = ModuleFileName();
    ASSERT_EQ(FileNameOf(path), L"tarnwick_tests.exe");
    const size_t units = path.size() + 1; // with its NUL
    const std::pair<size_t, bool> buffers[] = {
        {KMaxPathUnits, true}, {units + 1, true}, {units, true}, {units - 1, false}, {1, false}, {0, false},
    };
    for (auto [buffer, fits] : buffers) {
        std::optional<std::wstring> read = ModuleFileName(nullptr, buffer);
        EXPECT_EQ(read.value_or(L"(none)"), fits ? path : L"(none)") << buffer;
    }
    EXPECT_EQ(FileNameOf(ModuleFileName(GetModuleHandleW(L"kernel32.dll"))), L"kernel32.dll");
}

TEST(ApplicationTitle, FileNameCutAtTheFirstDotRestInLowerCase)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\Program Files\\Tarnwick\\Tarnwick.exe", L"Tarnwick"},
        {L"C:\\x\\TARNWICK.EXE", L"Tarnwick"},
        {L"C:\\x.y\\my.tool.exe", L"my"},
        {L"tarnwick", L"tarnwick"},
    };
    for (auto [path, title] : cases) EXPECT_EQ(ApplicationTitleFromPath(path), title) << path;
    EXPECT_EQ(Application->Title(), L"tarnwick_tests");
}

// ---- themes ----

TEST(Styles, ParsesOurFormatAndRejectsDamage)
{
    std::string good = "FWSTYLE 1\n; c\nName=Glow\n";
    for (const char* key :
         {"Window", "WindowText", "MenuBackground", "MenuText", "MenuHighlight", "MenuHighlightText",
          "MenuDisabledText", "MenuSeparator", "MenuCheck", "ButtonFace", "ButtonText", "ButtonHover", "Border"})
        good += std::string(key) + "=#102030\r\n";
    auto style = ParseStyle(good);
    ASSERT_TRUE(style);
    EXPECT_EQ(style->Name, L"Glow");
    EXPECT_EQ(style->Color(TStyleColor::Border), RGB(0x10, 0x20, 0x30));

    const std::pair<std::string, std::string> damage[] = {
        {"FWSTYLE 1", "FWSTYLE 2"},           {"Name=Glow", "Name="},     {"Border=#102030", "Border=#10203"},
        {"Border=#102030", "Border=#10203G"}, {"Border=#102030\r\n", ""}, {"; c", "Bogus=#000000"},
    };
    for (auto& [from, to] : damage) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        EXPECT_FALSE(ParseStyle(text)) << to;
    }
    EXPECT_FALSE(ParseStyle(""));
    EXPECT_FALSE(ParseStyle(good.substr(0, good.size() / 2)));
}

TEST(Styles, EmbeddedThemeIsFoundByNameCaseInsensitively)
{
    TStyleManager::Reset();
    EXPECT_FALSE(TStyleManager::TrySetStyle(L"Other", false));
    EXPECT_EQ(TStyleManager::ActiveStyle(), nullptr);
    EXPECT_TRUE(TStyleManager::TrySetStyle(L"gLoW", false));
    ASSERT_NE(TStyleManager::ActiveStyle(), nullptr);
    EXPECT_EQ(TStyleManager::ActiveStyle()->Name, L"Glow");
    EXPECT_EQ(TStyleManager::NotFoundText(L"Glow"), L"スタイル 'Glow' が見つかりません");
    TStyleManager::Reset();
}

// ---- the image list ----

// Width and height of an icon's image.
SIZE IconSize(HICON AIcon)
{
    ICONINFO info{};
    if (!AIcon || !GetIconInfo(AIcon, &info)) return {};
    BITMAP bitmap{};
    GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bitmap), &bitmap);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    return {bitmap.bmWidth, bitmap.bmHeight};
}

TEST(ImageList, ImagesComeAtTheListsWidthAndHeightOrTheSizeAskedForAndAMissingOneFailsWhenAdded)
{
    TImageList images(32, 16);
    images.AddResourceIcon(L"TRAYDISCONNECTED");
    images.AddResourceIcon(L"TRAYCONNECTED");
    EXPECT_THROW(images.AddResourceIcon(L"NOSUCHICON"), EOSError);
    EXPECT_EQ(images.Count(), 2);

    SIZE listSize = IconSize(images.GetIcon(1));
    EXPECT_EQ(listSize.cx, 32);
    EXPECT_EQ(listSize.cy, 16);
    SIZE asked = IconSize(images.GetIconForSize(0, 20));
    EXPECT_EQ(asked.cx, 20);
    EXPECT_EQ(asked.cy, 20);
    EXPECT_EQ(images.GetIconForSize(0, 20), images.GetIconForSize(0, 20)) << "loaded once and kept";
    EXPECT_EQ(images.GetIcon(2), nullptr);
}

// ---- menus ----

TEST(Menus, HiddenItemsAreLeftOutAndMovesKeepTheOrder)
{
    test::THost host;
    TPopupMenu menu(host);
    auto* a = menu.Add(std::make_unique<TMenuItem>(L"A"));
    auto* b = menu.Add(std::make_unique<TMenuItem>(L"-"));
    auto* c = menu.Add(std::make_unique<TMenuItem>(L"&C"));
    b->SetVisible(false);
    c->SetChecked(true);
    a->SetEnabled(false);
    menu.Move(c, 0);
    EXPECT_EQ(menu.IndexOf(c), 0);
    HMENU handle = menu.Handle();
    ASSERT_EQ(GetMenuItemCount(handle), 2);
    EXPECT_EQ(GetMenuItemID(handle, 0), c->Command());
    EXPECT_EQ(GetMenuState(handle, 0, MF_BYPOSITION) & MF_CHECKED, static_cast<UINT>(MF_CHECKED));
    EXPECT_EQ(GetMenuState(handle, 1, MF_BYPOSITION) & MF_DISABLED, static_cast<UINT>(MF_DISABLED));
}

TEST(Menus, AccessKeysWorkOnThemedItems)
{
    TStyleManager::Reset();
    ASSERT_TRUE(TStyleManager::TrySetStyle(L"Glow", false));
    test::THost host;
    TPopupMenu menu(host);
    menu.Add(std::make_unique<TMenuItem>(L"&Open VPN Setting..."));
    menu.Add(std::make_unique<TMenuItem>(L"-"));
    menu.Add(std::make_unique<TMenuItem>(L"Fish && &Chips"));
    auto* disabled = menu.Add(std::make_unique<TMenuItem>(L"&Disabled"));
    disabled->SetEnabled(false);
    menu.Add(std::make_unique<TMenuItem>(L"E&xit"));
    HMENU handle = menu.Handle();
    EXPECT_EQ(GetMenuState(handle, 0, MF_BYPOSITION) & MF_OWNERDRAW, static_cast<UINT>(MF_OWNERDRAW));
    auto menuChar = [&](wchar_t c) {
        return SendMessageW(menu.Window(), WM_MENUCHAR, MAKEWPARAM(c, MF_POPUP), reinterpret_cast<LPARAM>(handle));
    };
    EXPECT_EQ(menuChar(L'x'), MAKELRESULT(4, MNC_EXECUTE));
    EXPECT_EQ(menuChar(L'X'), MAKELRESULT(4, MNC_EXECUTE));
    EXPECT_EQ(menuChar(L'o'), MAKELRESULT(0, MNC_EXECUTE));
    EXPECT_EQ(menuChar(L'c'), MAKELRESULT(2, MNC_EXECUTE));
    EXPECT_EQ(HIWORD(menuChar(L'd')), MNC_IGNORE) << "disabled items do not answer";
    EXPECT_EQ(HIWORD(menuChar(L'q')), MNC_IGNORE);
    TStyleManager::Reset();
}

TEST(Menus, ThemedItemsCarryWhatAssistiveTechnologyReads)
{
    TStyleManager::Reset();
    ASSERT_TRUE(TStyleManager::TrySetStyle(L"Glow", false));
    test::THost host;
    TPopupMenu menu(host);
    auto* entry = menu.Add(std::make_unique<TMenuItem>(L"R&D"));
    entry->LiteralCaption = true;
    entry->SetChecked(true);
    menu.Add(std::make_unique<TMenuItem>(L"-"));
    menu.Add(std::make_unique<TMenuItem>(L"Connecting..."))->SetEnabled(false);
    auto* exit = menu.Add(std::make_unique<TMenuItem>(L"E&xit"));
    const struct {
        const wchar_t* Text;
        UINT State;
    } expected[] = {{L"R&&D", MFS_CHECKED}, {L"", 0}, {L"Connecting...", MFS_DISABLED}, {L"E&xit", 0}};

    auto read = [&](const char* AWhen) {
        SCOPED_TRACE(AWhen);
        HMENU handle = menu.Handle();
        ASSERT_EQ(GetMenuItemCount(handle), 4);
        for (UINT i = 0; i < 4; ++i) {
            SCOPED_TRACE(testing::Message() << "item " << i);
            wchar_t text[64] = {};
            MENUITEMINFOW info{};
            info.cbSize = sizeof(info);
            info.fMask = MIIM_DATA | MIIM_STATE | MIIM_FTYPE | MIIM_STRING;
            info.dwTypeData = text;
            info.cch = 64;
            ASSERT_TRUE(GetMenuItemInfoW(handle, i, TRUE, &info));
            EXPECT_TRUE(info.fType & MFT_OWNERDRAW);
            EXPECT_STREQ(text, expected[i].Text) << "the item keeps its string";
            EXPECT_EQ(info.fState & (MFS_CHECKED | MFS_DISABLED), expected[i].State);
            auto* msaa = reinterpret_cast<const MSAAMENUINFO*>(info.dwItemData);
            ASSERT_NE(msaa, nullptr);
            EXPECT_EQ(msaa->dwMSAASignature, static_cast<DWORD>(MSAA_MENU_SIG));
            EXPECT_EQ(std::wstring(msaa->pszWText, msaa->cchWText), expected[i].Text);
            EXPECT_EQ(msaa->pszWText[msaa->cchWText], L'\0');
        }
    };
    read("first build");
    // A rebuild keeps every item's record where it was, and keeps it right.
    HMENU handle = menu.Handle();
    MENUITEMINFOW before{};
    before.cbSize = sizeof(before);
    before.fMask = MIIM_DATA;
    GetMenuItemInfoW(handle, 3, TRUE, &before);
    exit->SetVisible(false);
    menu.Handle();
    exit->SetVisible(true);
    read("after rebuilds");
    MENUITEMINFOW after = before;
    GetMenuItemInfoW(menu.Handle(), 3, TRUE, &after);
    EXPECT_EQ(after.dwItemData, before.dwItemData);
    TStyleManager::Reset();
}

TEST(Menus, ClickArrivesThroughTheMenusCommand)
{
    test::THost host;
    TPopupMenu menu(host);
    auto* item = menu.Add(std::make_unique<TMenuItem>(L"E&xit"));
    TObject* sender = nullptr;
    item->OnClick = [&](TObject* ASender) { sender = ASender; };
    SendMessageW(menu.Window(), WM_COMMAND, MAKEWPARAM(item->Command(), 0), 0);
    EXPECT_EQ(sender, item);
}

} // namespace
