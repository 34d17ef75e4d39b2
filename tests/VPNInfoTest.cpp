// One entry's operations against the simulated service: status, connect and
// disconnect on worker threads, and where their completions run.
#include <gtest/gtest.h>

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

} // namespace
