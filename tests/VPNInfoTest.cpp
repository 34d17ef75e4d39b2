// One entry's operations against the simulated service: status, connect and
// disconnect on worker threads, and where their completions run.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>

#include "framework/Exceptions.h"
#include "net_vpn/Net.VPN.Win.h"
#include "tests/TestSupport.h"

namespace {

using NetVPNWin::TConnectionProc;
using NetVPNWin::TVPNInfo;

struct TResult {
    bool Done = false;
    bool Success = false;
    std::wstring Name;
    DWORD Thread = 0;
};

TVPNInfo Entry(const std::wstring& AName)
{
    return TVPNInfo::Create(nullptr, AName);
}

// Starts a request and pumps this (user-interface) thread until its completion ran.
TResult RunRequest(const TVPNInfo& AInfo, bool AConnect)
{
    TResult result;
    TConnectionProc proc = [&](const TVPNInfo& AEntry, bool ASuccess) {
        result = {true, ASuccess, AEntry.FName, GetCurrentThreadId()};
    };
    if (AConnect)
        AInfo.Connect(proc);
    else
        AInfo.Disconnect(proc);
    EXPECT_TRUE(test::PumpUntil([&] { return result.Done; })) << "completion never ran";
    return result;
}

// The calls that change connections, in order, without the queries.
std::vector<std::wstring> Actions(const test::TRasScenario& AScenario)
{
    std::vector<std::wstring> actions;
    for (auto& line : AScenario.LogLines()) {
        for (const wchar_t* f : {L"RasGetEntryDialParamsW\t", L"RasHangUpW\t", L"RasDialW\t"})
            if (line.rfind(f, 0) == 0) actions.push_back(line);
    }
    return actions;
}

TEST(VPNInfo, IsConnectedOnlyForAConnectedConnectionOfExactlyThatName)
{
    const struct {
        std::vector<std::wstring> Scenario;
        bool Expected;
    } cases[] = {
        {{}, false},
        {{L"conn\t1\tconnected\tOffice"}, true},
        {{L"conn\t1\tconnecting\tOffice"}, false},
        {{L"conn\t1\tconnected\toffice"}, false},
        {{L"conn\t1\tconnected\tOffice "}, false},
        {{L"conn\t1\tconnected\tLab", L"conn\t2\tconnected\tOffice"}, true},
        {{L"conn\t1\tconnected\tOffice", L"fail\tRasGetConnectStatusW\t6"}, false},
    };
    test::TRasScenario scenario;
    for (const auto& c : cases) {
        scenario.Write(c.Scenario);
        EXPECT_EQ(Entry(L"Office").IsConnected(), c.Expected) << (c.Scenario.empty() ? L"" : c.Scenario[0]);
    }
}

TEST(VPNInfo, ConnectHangsUpEverythingThenDialsAndCompletesOnTheUIThread)
{
    test::TRasScenario scenario;
    scenario.Write(
        {L"entry\tvpn\tOffice", L"entry\tvpn\tLab", L"conn\t1\tconnected\tLab", L"conn\t2\tconnected\tModem"});
    TResult result = RunRequest(Entry(L"Office"), true);
    EXPECT_TRUE(result.Success);
    EXPECT_EQ(result.Name, L"Office");
    EXPECT_EQ(result.Thread, GetCurrentThreadId());
    EXPECT_EQ(Actions(scenario), (std::vector<std::wstring>{
                                     L"RasGetEntryDialParamsW\tOffice\t0",
                                     L"RasHangUpW\t#1\t0",
                                     L"RasHangUpW\t#2\t0",
                                     L"RasDialW\tOffice\t0",
                                 }));
    EXPECT_TRUE(Entry(L"Office").IsConnected());
    EXPECT_FALSE(Entry(L"Lab").IsConnected());
}

TEST(VPNInfo, ConnectOutcomes)
{
    const struct {
        const char* Title;
        std::vector<std::wstring> Scenario;
        bool Success;
        std::vector<std::wstring> Actions;
    } cases[] = {
        {"entry itself connected: hung up and dialled again",
         {L"entry\tvpn\tOffice", L"conn\t1\tconnected\tOffice"},
         true,
         {L"RasGetEntryDialParamsW\tOffice\t0", L"RasHangUpW\t#1\t0", L"RasDialW\tOffice\t0"}},
        {"dial fails: others already hung up, only the failed dial's handle released",
         {L"entry\tvpn\tOffice", L"conn\t5\tconnected\tLab", L"dial\t691\t0\tOffice"},
         false,
         {L"RasGetEntryDialParamsW\tOffice\t0", L"RasHangUpW\t#5\t0", L"RasDialW\tOffice\t691", L"RasHangUpW\t#1\t0"}},
        {"entry deleted: nothing hung up, nothing dialled",
         {L"conn\t1\tconnected\tLab"},
         false,
         {L"RasGetEntryDialParamsW\tOffice\t623"}},
    };
    test::TRasScenario scenario;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        scenario.Write(c.Scenario);
        scenario.ClearLog();
        EXPECT_EQ(RunRequest(Entry(L"Office"), true).Success, c.Success);
        EXPECT_EQ(Actions(scenario), c.Actions);
    }
}

TEST(VPNInfo, ANameLongerThanTheRecordIsDialledAsAnEmptyName)
{
    test::TRasScenario scenario;
    std::wstring name(257, L'n');
    scenario.Write({L"entry\tvpn\t" + name});
    EXPECT_FALSE(RunRequest(Entry(name), true).Success);
    EXPECT_EQ(Actions(scenario), std::vector<std::wstring>{L"RasGetEntryDialParamsW\t\t623"});
}

TEST(VPNInfo, DisconnectHangsUpOnlyThisEntrysConnection)
{
    const struct {
        const char* Title;
        std::vector<std::wstring> Scenario;
        bool Success;
        std::vector<std::wstring> Actions;
    } cases[] = {
        {"connected", {L"conn\t1\tconnected\tLab", L"conn\t2\tconnected\tOffice"}, true, {L"RasHangUpW\t#2\t0"}},
        {"still dialling", {L"conn\t3\tconnecting\tOffice"}, true, {L"RasHangUpW\t#3\t0"}},
        {"no connection", {L"conn\t1\tconnected\tLab"}, false, {}},
        {"other letter case", {L"conn\t1\tconnected\tOFFICE"}, false, {}},
        {"hang-up refused", {L"conn\t2\tconnected\tOffice", L"fail\tRasHangUpW\t6"}, false, {L"RasHangUpW\t#2\t6"}},
    };
    test::TRasScenario scenario;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        scenario.Write(c.Scenario);
        scenario.ClearLog();
        EXPECT_EQ(RunRequest(Entry(L"Office"), false).Success, c.Success);
        EXPECT_EQ(Actions(scenario), c.Actions);
    }
}

TEST(VPNInfo, ForceDisconnectAndDisconnectAll)
{
    test::TRasScenario scenario;
    scenario.Write({L"conn\t1\tconnected\tLab", L"conn\t0\tconnected\tGhost", L"conn\t2\tconnecting\tOffice"});
    EXPECT_FALSE(Entry(L"Home").ForceDisconnect());
    EXPECT_TRUE(Entry(L"Office").ForceDisconnect());
    Entry(L"Home").DisconnectAll();
    EXPECT_EQ(Actions(scenario), (std::vector<std::wstring>{L"RasHangUpW\t#2\t0", L"RasHangUpW\t#1\t0"}));
}

TEST(VPNInfo, TheRequestWorksOnTheRecordAsItWasWhenStarted)
{
    test::TRasScenario scenario;
    scenario.Write({L"entry\tvpn\tOffice", L"dial\t0\t200\tOffice"});
    TVPNInfo info = Entry(L"Office");
    TResult result;
    info.Connect([&](const TVPNInfo& AEntry, bool ASuccess) { result = {true, ASuccess, AEntry.FName, 0}; });
    info.FName = L"Changed";
    info.Clear();
    ASSERT_TRUE(test::PumpUntil([&] { return result.Done; }));
    EXPECT_EQ(result.Name, L"Office");
    EXPECT_TRUE(result.Success);
}

TEST(VPNInfo, ANullCompletionStillDials)
{
    test::TRasScenario scenario;
    scenario.Write({L"entry\tvpn\tOffice"});
    Entry(L"Office").Connect(nullptr);
    EXPECT_TRUE(test::PumpUntil([&] { return !scenario.Calls(L"RasDialW").empty(); }));
    EXPECT_TRUE(test::PumpUntil([&] { return Entry(L"Office").IsConnected(); }));
}

TEST(VPNInfo, AnExceptionFromTheCompletionEndsOnlyItsWorker)
{
    test::TRasScenario scenario;
    scenario.Write({L"entry\tvpn\tOffice"});
    std::atomic<bool> thrown{false};
    Entry(L"Office").Connect([&](const TVPNInfo&, bool) {
        thrown = true;
        throw fw::Exception(L"completion failed");
    });
    ASSERT_TRUE(test::PumpUntil([&] { return thrown.load(); }));
    // The user-interface thread saw nothing and goes on serving requests.
    EXPECT_TRUE(RunRequest(Entry(L"Office"), false).Success);
}

TEST(VPNInfo, TheDialNeverBlocksTheCallingThread)
{
    test::TRasScenario scenario;
    scenario.Write({L"entry\tvpn\tOffice", L"dial\t0\t3000\tOffice"});
    TResult result;
    Entry(L"Office").Connect([&](const TVPNInfo&, bool ASuccess) { result = {true, ASuccess, L"", 0}; });
    // Connect has returned while the three-second dial is still going.
    EXPECT_TRUE(scenario.Calls(L"RasDialW").empty());
    EXPECT_FALSE(result.Done);
    ASSERT_TRUE(test::PumpUntil([&] { return result.Done; }));
    EXPECT_TRUE(result.Success);
}

// A hung-up line takes a while to close, and a dial of the same entry fails
// with 602 meanwhile: the request dials, or reports a disconnect, only once its
// lines have gone (their status query answers 6).
TEST(VPNInfo, RequestsWaitForHungUpLinesToClose)
{
    const struct {
        const char* Title;
        bool Connect;
        std::vector<std::wstring> Lines;
        std::vector<std::wstring> Actions;
    } cases[] = {
        {"reconnecting an entry still dialling",
         true,
         {L"conn\t3\tconnecting\tOffice"},
         {L"RasGetEntryDialParamsW\tOffice\t0", L"RasHangUpW\t#3\t0", L"RasDialW\tOffice\t0"}},
        {"switching from another entry",
         true,
         {L"conn\t1\tconnected\tLab"},
         {L"RasGetEntryDialParamsW\tOffice\t0", L"RasHangUpW\t#1\t0", L"RasDialW\tOffice\t0"}},
        {"all lines hung up first, then waited for together",
         true,
         {L"conn\t1\tconnected\tLab", L"conn\t2\tconnected\tOffice"},
         {L"RasGetEntryDialParamsW\tOffice\t0", L"RasHangUpW\t#1\t0", L"RasHangUpW\t#2\t0", L"RasDialW\tOffice\t0"}},
        {"disconnecting", false, {L"conn\t2\tconnected\tOffice"}, {L"RasHangUpW\t#2\t0"}},
    };
    test::TRasScenario scenario;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        std::vector<std::wstring> world = {L"entry\tvpn\tOffice", L"entry\tvpn\tLab", L"linger\t300"};
        world.insert(world.end(), c.Lines.begin(), c.Lines.end());
        scenario.Write(world);
        scenario.ClearLog();
        std::vector<std::wstring> log; // as it stood when the completion ran
        bool done = false;
        bool success = false;
        TConnectionProc proc = [&](const TVPNInfo&, bool ASuccess) {
            log = scenario.LogLines();
            success = ASuccess;
            done = true;
        };
        if (c.Connect)
            Entry(L"Office").Connect(proc);
        else
            Entry(L"Office").Disconnect(proc);
        ASSERT_TRUE(test::PumpUntil([&] { return done; }));
        EXPECT_TRUE(success);
        EXPECT_EQ(Actions(scenario), c.Actions);
        // Each hung-up handle answered 6 before the dial, and so before the completion.
        auto dial = std::find_if(log.begin(), log.end(), [](auto& l) { return l.rfind(L"RasDialW\t", 0) == 0; });
        auto firstQuery = std::find_if(log.begin(), log.end(),
                                       [](auto& l) { return l.rfind(L"RasGetConnectStatusW\t", 0) == 0; });
        for (const std::wstring& action : c.Actions) {
            if (action.rfind(L"RasHangUpW\t", 0) != 0) continue;
            std::wstring handle = action.substr(11, action.find(L'\t', 11) - 11);
            auto gone = std::find(log.begin(), log.end(), L"RasGetConnectStatusW\t" + handle + L"\t6");
            EXPECT_NE(gone, log.end()) << "never waited for " << handle;
            EXPECT_LT(gone, dial) << handle << " was still closing at the dial";
            EXPECT_LT(std::find(log.begin(), log.end(), action), firstQuery) << "not every hang-up came first";
        }
    }
}

// A line that does not close, or a status query that cannot tell, holds the
// request no longer than the wait's bound (shortened here), and the request
// then ends as it would without waiting: the dial of the still-open entry fails.
TEST(VPNInfo, TheWaitForALineEndsAtItsBoundOrWhenTheServiceCannotTell)
{
    test::TServicesScope shortBound([](fw::TServices& AServices) { AServices.LineCloseLimit = 300; });
    const struct {
        const char* Title;
        std::vector<std::wstring> Status; // lines that make the status query answer otherwise
        bool Raise;
        bool Polled; // queried again and again until the bound
    } cases[] = {
        {"the line never closes", {}, false, true},
        {"the status query fails", {L"fail\tRasGetConnectStatusW\t5"}, false, true},
        {"the status query is missing", {L"fail\tRasGetConnectStatusW\t127"}, false, false},
        {"the status query raises", {}, true, false},
    };
    test::TRasScenario scenario;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        std::vector<std::wstring> world = {L"entry\tvpn\tOffice", L"linger\t600000", L"conn\t1\tconnected\tOffice"};
        world.insert(world.end(), c.Status.begin(), c.Status.end());
        scenario.Write(world);
        scenario.ClearLog();
        test::TFaultyServices faults;
        if (c.Raise) faults.RaiseIn("RasGetConnectStatusW");
        TResult result;
        Entry(L"Office").Connect([&](const TVPNInfo&, bool ASuccess) { result = {true, ASuccess, L"", 0}; });
        // Far beyond the bound, far below the wait the program would make unbounded.
        ASSERT_TRUE(test::PumpUntil([&] { return result.Done; }, std::chrono::milliseconds(5000)));
        EXPECT_FALSE(result.Success);
        EXPECT_EQ(scenario.Calls(L"RasDialW"), (std::vector<std::wstring>{L"RasDialW\tOffice\t602"}));
        size_t queries = scenario.Calls(L"RasGetConnectStatusW").size();
        if (c.Polled)
            EXPECT_GT(queries, 2u);
        else
            EXPECT_LE(queries, scenario.Calls(L"RasHangUpW").size()) << "one query per hung-up handle";
    }
}

} // namespace
