// Every moment that talks to the remote-access service, with each call it
// makes failing in each way that takes a path of its own: nothing crashes,
// no box appears, the menu never sticks, and the result is the one a failed
// call stands for (an empty list, "(none)", not connected, a failed balloon).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/Application.h"
#include "tests/TestSupport.h"
#include "ui/uMain.h"

namespace {

using uMain::TfrmMain;

enum class TMoment { StartUp, Poll, MenuOpening, Connect, Disconnect };

const char* MomentName(TMoment AMoment)
{
    switch (AMoment) {
    case TMoment::StartUp: return "start-up";
    case TMoment::Poll: return "poll";
    case TMoment::MenuOpening: return "menu opening";
    case TMoment::Connect: return "connect";
    case TMoment::Disconnect: return "disconnect";
    }
    return "?";
}

const std::vector<std::wstring> KPhonebook = {L"entry\tvpn\tOffice", L"entry\tphone\tModem", L"entry\tvpn\tLab"};
const std::vector<std::wstring> KAllFunctions = {
    L"RasEnumEntriesW", L"RasGetEntryPropertiesW", L"RasGetEntryDialParamsW", L"RasDialW",
    L"RasHangUpW",      L"RasEnumConnectionsW",    L"RasGetConnectStatusW"};

// What the moment must end in; the fields a moment does not produce stay unset.
struct TExpected {
    int Entries = -1;                 // start-up: VPN items made (0: the "(none)" item instead)
    int Icon = -1;                    // the tray icon's index afterwards
    int LabChecked = -1;              // menu opening: Lab's check mark
    const wchar_t* Balloon = nullptr; // connect, disconnect: the result balloon
};

// Each set of scenario lines makes the moment's service misbehave in one way.
struct TRow {
    TMoment Moment;
    std::vector<std::vector<std::wstring>> Faults;
    TExpected Expected;
};

// AFunctions failing together, once with each of ACodes; on calls with a
// buffer or record only, with ASecondCallOnly.
std::vector<std::vector<std::wstring>> Failing(const std::vector<std::wstring>& AFunctions,
                                               const std::vector<DWORD>& ACodes, bool ASecondCallOnly = false)
{
    std::vector<std::vector<std::wstring>> sets;
    for (DWORD code : ACodes) {
        std::vector<std::wstring> lines;
        for (const std::wstring& function : AFunctions)
            lines.push_back(L"fail\t" + function + L"\t" + std::to_wstring(code) +
                            (ASecondCallOnly ? L"\tsized" : L""));
        sets.push_back(lines);
    }
    return sets;
}

// Codes that fail a call outright: access denied, a bad parameter, a record
// size the service refuses, a function that is missing.
const std::vector<DWORD> KFailures = {5, 87, 632, 127};

// An enumeration misbehaving in every way: its first call refused, or
// answering "too small" without a count, or claiming an absurd count; its
// second call refused, or answering "too small" again and again (a list
// that keeps growing).
std::vector<std::vector<std::wstring>> EnumerationFaults(const std::wstring& AEnum)
{
    std::vector<std::vector<std::wstring>> sets = Failing({AEnum}, {5, 87, 632, 127, 603});
    for (auto& set : Failing({AEnum}, {5, 603}, true)) sets.push_back(set);
    sets.push_back({L"claim\t" + AEnum + L"\t2147483647"});
    sets.push_back({L"grow\t" + AEnum + L"\talways"});
    return sets;
}

std::vector<TRow> Rows()
{
    const TExpected emptyList{0, 0};
    // No entry listed, but the status still follows the connection that is up.
    const TExpected emptyListLabUp{0, 1};
    const TExpected startNotConnected{2, 0};
    const TExpected pollNotConnected{-1, 0};
    const TExpected labUnchecked{-1, -1, 0};
    const TExpected connected{.Balloon = L"Office: Connected"};
    const TExpected connectFailed{.Balloon = L"Office: Connected failed"};
    const TExpected disconnectFailed{.Balloon = L"Office: Disconnected failed"};
    const auto noLibrary = Failing(KAllFunctions, {127});
    const auto entries = EnumerationFaults(L"RasEnumEntriesW");
    const auto connections = EnumerationFaults(L"RasEnumConnectionsW");
    const auto status = Failing({L"RasGetConnectStatusW"}, KFailures);
    const auto hangUp = Failing({L"RasHangUpW"}, KFailures);
    auto properties = Failing({L"RasGetEntryPropertiesW"}, {5, 87, 632, 127, 603});
    for (auto& set : Failing({L"RasGetEntryPropertiesW"}, KFailures, true)) properties.push_back(set);

    return {
        {TMoment::StartUp, entries, emptyListLabUp},
        {TMoment::StartUp, properties, emptyListLabUp},
        {TMoment::StartUp, connections, startNotConnected},
        {TMoment::StartUp, status, startNotConnected},
        {TMoment::StartUp, noLibrary, emptyList},

        {TMoment::Poll, connections, pollNotConnected},
        {TMoment::Poll, status, pollNotConnected},
        {TMoment::Poll, noLibrary, pollNotConnected},

        {TMoment::MenuOpening, connections, labUnchecked},
        {TMoment::MenuOpening, status, labUnchecked},
        {TMoment::MenuOpening, noLibrary, labUnchecked},

        // Lab is connected; choosing Office connects it. Failed hang-ups do not stop the dial.
        {TMoment::Connect, connections, connected},
        {TMoment::Connect, status, connected},
        {TMoment::Connect, hangUp, connected},
        {TMoment::Connect, Failing({L"RasGetEntryDialParamsW"}, KFailures), connectFailed},
        {TMoment::Connect, Failing({L"RasDialW"}, KFailures), connectFailed},
        {TMoment::Connect, noLibrary, connectFailed},

        // Office is connected; choosing Office disconnects it, unless the status
        // query fails: then it counts as not connected and is dialled afresh.
        {TMoment::Disconnect, connections, connected},
        {TMoment::Disconnect, status, connected},
        {TMoment::Disconnect, hangUp, disconnectFailed},
        {TMoment::Disconnect, noLibrary, connectFailed},
    };
}

class FaultMatrix : public testing::Test {
protected:
    ~FaultMatrix() override { Destroy(); }

    void Create(const std::vector<std::wstring>& AScenario)
    {
        Scenario.Write(AScenario);
        Form = std::make_unique<TfrmMain>(*fw::Application);
        Form->DoCreate();
    }
    void Destroy()
    {
        if (Form) Form->DoDestroy();
        Form.reset();
        Tray.Records.clear();
    }
    std::wstring LastBalloon() const
    {
        for (auto it = Tray.Records.rbegin(); it != Tray.Records.rend(); ++it)
            if (it->Flags & NIF_INFO) return it->Info;
        return L"(none)";
    }

    // Runs AMoment with AFailures added to its phonebook, and checks AExpected.
    void Run(TMoment AMoment, const std::vector<std::wstring>& AFailures, const TExpected& AExpected)
    {
        std::vector<std::wstring> world = KPhonebook;
        world.push_back(AMoment == TMoment::Disconnect ? L"conn\t1\tconnected\tOffice" : L"conn\t1\tconnected\tLab");
        std::vector<std::wstring> failing = world;
        failing.insert(failing.end(), AFailures.begin(), AFailures.end());
        test::TBoxCatcher boxes;

        Create(AMoment == TMoment::StartUp ? failing : world);
        if (AMoment != TMoment::StartUp) {
            ASSERT_EQ(Form->VPNItems().size(), 2u);
            Scenario.Write(failing);
        }
        switch (AMoment) {
        case TMoment::StartUp: break;
        case TMoment::Poll: Form->timerCheckConnectedTimer(Form->timerCheckConnected.get()); break;
        case TMoment::MenuOpening: Form->popupMainPopup(Form->popupMain.get()); break;
        case TMoment::Connect:
        case TMoment::Disconnect:
            // Chosen as the user does, through the menu's command.
            SendMessageW(Form->popupMain->Window(), WM_COMMAND, Form->VPNItems()[0]->Command(), 0);
            EXPECT_TRUE(test::PumpUntil([&] { return Form->VPNItems()[0]->Visible(); })) << "the menu is stuck";
            EXPECT_FALSE(Form->menuConnecting->Visible() || Form->menuDisconnecting->Visible());
            break;
        }

        EXPECT_TRUE(boxes.Texts.empty()) << "a box: " << (boxes.Texts.empty() ? L"" : boxes.Texts[0]);
        if (AExpected.Entries >= 0) {
            EXPECT_EQ(static_cast<int>(Form->VPNItems().size()), AExpected.Entries);
            bool none = Form->popupMain->Items(0)->Name == L"menuVPNNone";
            EXPECT_EQ(none, AExpected.Entries == 0);
        }
        if (AExpected.Icon >= 0) {
            EXPECT_EQ(Form->trayMain->IconIndex(), AExpected.Icon);
            EXPECT_EQ(Form->trayMain->Hint(), AExpected.Icon == 0 ? L"Disconnected" : L"Lab");
        }
        if (AExpected.LabChecked >= 0) {
            EXPECT_EQ(Form->VPNItems()[1]->Checked(), AExpected.LabChecked == 1);
        }
        if (AExpected.Balloon) {
            EXPECT_EQ(LastBalloon(), AExpected.Balloon);
        }
        Destroy();
    }

    test::TRasScenario Scenario;
    test::TFakeTray Tray;
    // A failing status query cannot tell that a hung-up line has gone: the
    // request waits out its bound, which the matrix need not spend in full.
    test::TServicesScope QuickLineClose{[](fw::TServices& AServices) { AServices.LineCloseLimit = 100; }};
    std::unique_ptr<TfrmMain> Form;
};

TEST_F(FaultMatrix, EveryMomentSurvivesEveryFailingCall)
{
    for (const TRow& row : Rows()) {
        for (const std::vector<std::wstring>& faults : row.Faults) {
            std::wstring what = faults.size() == KAllFunctions.size() ? L"no library" : faults[0];
            SCOPED_TRACE(testing::Message() << MomentName(row.Moment) << ": " << what);
            Run(row.Moment, faults, row.Expected);
        }
    }
}

TEST_F(FaultMatrix, WithoutFailuresTheSameMomentsSucceed)
{
    // The matrix's world, unharmed: what its expectations differ from.
    Run(TMoment::StartUp, {}, {2, 1});
    Run(TMoment::MenuOpening, {}, {-1, -1, 1});
    Run(TMoment::Disconnect, {}, {.Balloon = L"Office: Disconnected"});
}

} // namespace
