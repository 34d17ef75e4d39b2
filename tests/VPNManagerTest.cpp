// The entry list and the connected-name query against the simulated service.
#include <gtest/gtest.h>

#include "net_vpn/Net.VPN.Win.h"
#include "tests/TestSupport.h"

namespace {

using NetVPNWin::TVPNManager;

std::vector<std::wstring> Names(const TVPNManager& AManager)
{
    std::vector<std::wstring> names;
    for (int i = 0; i < AManager.Count(); ++i) names.push_back(AManager.Items(i).FName);
    return names;
}

struct TCase {
    const char* Title;
    std::vector<std::wstring> Scenario;
    std::vector<std::wstring> Expected;
};

TEST(VPNManager, ListsTheVPNEntriesOfThePhonebook)
{
    const TCase cases[] = {
        {"empty phonebook", {}, {}},
        {"only other types", {L"entry\tphone\tModem", L"entry\tdirect\tCable"}, {}},
        {"VPN entries in phonebook order",
         {L"entry\tvpn\tHome", L"entry\tphone\tModem", L"entry\tvpn\tOffice"},
         {L"Home", L"Office"}},
        {"duplicates kept", {L"entry\tvpn\tLab", L"entry\tvpn\tLab"}, {L"Lab", L"Lab"}},
        {"enumeration fails", {L"entry\tvpn\tHome", L"fail\tRasEnumEntriesW\t5"}, {}},
        {"size query fails", {L"entry\tvpn\tHome", L"fail\tRasGetEntryPropertiesW\t623"}, {}},
        {"record query fails", {L"entry\tvpn\tHome", L"fail\tRasGetEntryPropertiesW\t632\tsized"}, {}},
    };
    test::TRasScenario scenario;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        scenario.Write(c.Scenario);
        TVPNManager manager;
        EXPECT_EQ(Names(manager), c.Expected);
        for (int i = 0; i < manager.Count(); ++i) EXPECT_EQ(manager.Items(i).FManager, &manager);
    }
}

TEST(VPNManager, QueriesWithTheTrimmedNameAndStoresTheNameUntrimmed)
{
    test::TRasScenario scenario;
    scenario.Write({L"entry\tvpn\t Home "});
    TVPNManager manager;
    EXPECT_EQ(Names(manager), std::vector<std::wstring>{L" Home "});
    EXPECT_EQ(scenario.Calls(L"RasGetEntryPropertiesW"),
              (std::vector<std::wstring>{L"RasGetEntryPropertiesW\tsize\tHome\t603",
                                         L"RasGetEntryPropertiesW\trecord\tHome\t0"}));
}

TEST(VPNManager, ItemsOutOfRangeGiveAClearedRecord)
{
    test::TRasScenario scenario;
    scenario.Write({L"entry\tvpn\tHome"});
    TVPNManager manager;
    ASSERT_EQ(manager.Count(), 1);
    EXPECT_EQ(manager.Items(-1).FName, L"");
    EXPECT_EQ(manager.Items(1).FName, L"");
    EXPECT_EQ(manager.Items(0).FName, L"Home");
}

TEST(VPNManager, ConnectedNameIsTheFirstConnectedConnectionOfAnyKind)
{
    const struct {
        const char* Title;
        std::vector<std::wstring> Scenario;
        std::wstring Expected;
    } cases[] = {
        {"no connection", {}, L""},
        {"only connecting", {L"conn\t1\tconnecting\tOffice"}, L""},
        {"first connected wins", {L"conn\t1\tconnected\tA", L"conn\t2\tconnected\tB"}, L"A"},
        {"connecting passed over", {L"conn\t1\tconnecting\tA", L"conn\t2\tconnected\tB"}, L"B"},
        {"not a VPN entry", {L"entry\tphone\tModem", L"conn\t1\tconnected\tModem"}, L"Modem"},
        {"null handle passed over", {L"conn\t0\tconnected\tGhost", L"conn\t2\tconnected\tB"}, L"B"},
        {"status query fails", {L"conn\t1\tconnected\tA", L"fail\tRasGetConnectStatusW\t6"}, L""},
        {"enumeration fails", {L"conn\t1\tconnected\tA", L"fail\tRasEnumConnectionsW\t5\tsized"}, L""},
    };
    test::TRasScenario scenario;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        scenario.Write(c.Scenario);
        EXPECT_EQ(TVPNManager::GetConnectedName(), c.Expected);
    }
}

TEST(VPNManager, ConnectedNameStopsAtTheFirstConnected)
{
    test::TRasScenario scenario;
    scenario.Write({L"conn\t1\tconnected\tA", L"conn\t2\tconnected\tB"});
    TVPNManager::GetConnectedName();
    EXPECT_EQ(scenario.Calls(L"RasGetConnectStatusW"), std::vector<std::wstring>{L"RasGetConnectStatusW\t#1\t0"});
}

} // namespace
