// The remote-access binding against the simulated service: the two-call
// enumerations with their failures, and where the library is loaded from.
#include <gtest/gtest.h>

#include "net_vpn/RasApi.h"
#include "tests/TestSupport.h"

namespace {

using namespace RasApi;

struct TEnumCase {
    const char* Title;
    std::vector<std::wstring> Scenario;
    std::vector<std::wstring> Expected;
};

std::vector<std::wstring> EntryNames()
{
    std::vector<std::wstring> names;
    for (const auto& record : EnumEntries()) names.push_back(FieldText(record.szEntryName));
    return names;
}

std::vector<std::wstring> ConnectionNames()
{
    std::vector<std::wstring> names;
    for (const auto& record : EnumConnections()) names.push_back(FieldText(record.szEntryName));
    return names;
}

TEST(RasApiTwoCall, EntriesAreEnumeratedOrEmptyOnAnyFailure)
{
    const TEnumCase cases[] = {
        {"empty phonebook", {}, {}},
        {"all entries in order", {L"entry\tvpn\tOffice", L"entry\tphone\tModem"}, {L"Office", L"Modem"}},
        {"first call fails", {L"entry\tvpn\tOffice", L"fail\tRasEnumEntriesW\t5"}, {}},
        {"second call fails", {L"entry\tvpn\tOffice", L"fail\tRasEnumEntriesW\t5\tsized"}, {}},
    };
    test::TRasScenario scenario;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        scenario.Write(c.Scenario);
        EXPECT_EQ(EntryNames(), c.Expected);
    }
}

TEST(RasApiTwoCall, ConnectionsAreEnumeratedOrEmptyOnAnyFailure)
{
    const TEnumCase cases[] = {
        {"no connection", {}, {}},
        {"all connections in order", {L"conn\t1\tconnected\tB", L"conn\t2\tconnecting\tA"}, {L"B", L"A"}},
        {"first call fails", {L"conn\t1\tconnected\tB", L"fail\tRasEnumConnectionsW\t5"}, {}},
        {"second call fails", {L"conn\t1\tconnected\tB", L"fail\tRasEnumConnectionsW\t5\tsized"}, {}},
    };
    test::TRasScenario scenario;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        scenario.Write(c.Scenario);
        EXPECT_EQ(ConnectionNames(), c.Expected);
    }
}

TEST(RasApiTwoCall, SecondCallHasRoomForTheCountAndTheRightRecordSize)
{
    // The service rejects a wrong dwSize with 632 and a short buffer with 603,
    // so a filled result proves both.
    test::TRasScenario scenario;
    scenario.Write({L"entry\tvpn\tA", L"entry\tvpn\tB", L"entry\tvpn\tC"});
    EXPECT_EQ(EnumEntries().size(), 3u);
    EXPECT_EQ(scenario.Calls(L"RasEnumEntriesW"),
              (std::vector<std::wstring>{L"RasEnumEntriesW\tfirst\t603", L"RasEnumEntriesW\tsecond\t0"}));
}

TEST(RasApiTwoCall, UnfilledRecordStaysZero)
{
    test::TRasScenario scenario;
    scenario.Write({L"conn\t0\tconnected\tGhost", L"conn\t2\tconnected\tB"});
    auto connections = EnumConnections();
    ASSERT_EQ(connections.size(), 2u);
    EXPECT_EQ(connections[0].hrasconn, nullptr);
    EXPECT_NE(connections[1].hrasconn, nullptr);
}

TEST(RasApiBinding, ACopyBesideTheExecutableIsNotLoaded)
{
    // The build puts the decoy copy next to this test executable.
    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring beside(exe);
    beside = beside.substr(0, beside.find_last_of(L'\\') + 1) + L"rasapi32.dll";
    ASSERT_NE(GetFileAttributesW(beside.c_str()), INVALID_FILE_ATTRIBUTES) << "decoy missing";

    test::TRasScenario scenario;
    EnumEntries();
    HMODULE loaded = GetModuleHandleW(L"rasapi32.dll");
    ASSERT_NE(loaded, nullptr);
    using TVariant = const wchar_t*(WINAPI*)();
    auto variant = reinterpret_cast<TVariant>(reinterpret_cast<void*>(GetProcAddress(loaded, "RasSimVariant")));
    ASSERT_NE(variant, nullptr) << "not the simulated service";
    EXPECT_STREQ(variant(), L"system32");
}

} // namespace
