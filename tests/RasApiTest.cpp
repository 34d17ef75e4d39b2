// The remote-access binding against the simulated service: the two-call
// enumerations with their failures, and where the library is loaded from.
#include <gtest/gtest.h>

#include "framework/Modules.h"
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

// One enumeration as the tests drive it: how the service lists a name, and
// the names the program gets back (unfilled records as empty names).
struct TEnumeration {
    const wchar_t* Function;
    size_t RecordSize;
    std::wstring (*Listing)(int AId, const std::wstring& AName);
    std::vector<std::wstring> (*Names)();
};

const TEnumeration KEnumerations[] = {
    {L"RasEnumEntriesW", sizeof(TRasEntryNameW), [](int, const std::wstring& AName) { return L"entry\tvpn\t" + AName; },
     EntryNames},
    {L"RasEnumConnectionsW", sizeof(TRasConnW),
     [](int AId, const std::wstring& AName) { return L"conn\t" + std::to_wstring(AId) + L"\tconnected\t" + AName; },
     ConnectionNames},
};

std::vector<std::wstring> Listing(const TEnumeration& AEnum, const std::vector<std::wstring>& ANames)
{
    std::vector<std::wstring> lines;
    for (size_t i = 0; i < ANames.size(); ++i) lines.push_back(AEnum.Listing(static_cast<int>(i + 1), ANames[i]));
    return lines;
}

std::vector<std::wstring> CallLog(const TEnumeration& AEnum, const std::vector<std::wstring>& AAnswers)
{
    std::vector<std::wstring> lines;
    for (const auto& answer : AAnswers) lines.push_back(std::wstring(AEnum.Function) + L"\t" + answer);
    return lines;
}

TEST(RasApiTwoCall, AFirstAnswerThatCannotBeRightIsAFailedCall)
{
    struct TCase {
        const char* Title;
        DWORD Count;
        int SizeRecords, SizeExtra; // claimed size: that many of our records plus bytes; -1: the service's own
        size_t Expected;            // records returned; 0 means no second call either
    };
    const TCase cases[] = {
        {"absurd count, size as large as it goes", 0x7FFFFFFF, -1, 0, 0},
        {"absurd count, size of the real list", 0x7FFFFFFF, 2, 0, 0},
        {"count over the limit with room for it", 65537, -1, 0, 0},
        {"size one byte short of the records", 2, 2, -1, 0},
        {"size exactly the records", 2, 2, 0, 2},
        {"size of larger, newer records", 2, 2, 200, 2},
        {"count at the limit", 65536, -1, 0, 65536},
    };
    test::TRasScenario scenario;
    for (const auto& e : KEnumerations) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.Title << " / " << e.Function);
            auto lines = Listing(e, {L"A", L"B"});
            std::wstring claim = std::wstring(L"claim\t") + e.Function + L"\t" + std::to_wstring(c.Count);
            if (c.SizeRecords >= 0) claim += L"\t" + std::to_wstring(c.SizeRecords * e.RecordSize + c.SizeExtra);
            lines.push_back(claim);
            scenario.Write(lines);
            scenario.ClearLog();

            auto names = e.Names();
            ASSERT_EQ(names.size(), c.Expected);
            if (c.Expected == 0) {
                EXPECT_EQ(scenario.Calls(e.Function), CallLog(e, {L"first\t603"}));
            } else {
                EXPECT_EQ(names[0], L"A");
                EXPECT_EQ(names[1], L"B");
                EXPECT_EQ(scenario.Calls(e.Function), CallLog(e, {L"first\t603", L"second\t0"}));
            }
        }
    }
}

TEST(RasApiTwoCall, AListThatGrowsBetweenTheCallsIsAskedForAgainThreeTimesAtMost)
{
    struct TCase {
        const char* Title;
        const wchar_t* Grow; // nullptr: a well-behaved service
        std::vector<std::wstring> Expected;
        std::vector<std::wstring> Answers;
    };
    const TCase cases[] = {
        {"steady list", nullptr, {L"A", L"B", L"C"}, {L"first\t603", L"second\t0"}},
        {"grows once", L"once", {L"A", L"B", L"C"}, {L"first\t603", L"second\t603", L"second\t0"}},
        {"grows every time",
         L"always",
         {},
         {L"first\t603", L"second\t603", L"second\t603", L"second\t603", L"second\t603"}},
    };
    test::TRasScenario scenario;
    for (const auto& e : KEnumerations) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << c.Title << " / " << e.Function);
            auto lines = Listing(e, {L"A", L"B", L"C"});
            if (c.Grow) lines.push_back(std::wstring(L"grow\t") + e.Function + L"\t" + c.Grow);
            scenario.Write(lines);
            scenario.ClearLog();

            EXPECT_EQ(e.Names(), c.Expected);
            EXPECT_EQ(scenario.Calls(e.Function), CallLog(e, c.Answers));
        }
    }
}

TEST(RasApiBinding, ACopyBesideTheExecutableIsNotLoaded)
{
    // The build puts the decoy copy next to this test executable.
    std::wstring beside = fw::ModuleFileName();
    beside = beside.substr(0, beside.find_last_of(L'\\') + 1) + L"rasapi32.dll";
    ASSERT_NE(GetFileAttributesW(beside.c_str()), INVALID_FILE_ATTRIBUTES) << "decoy missing";

    test::TRasScenario scenario;
    EnumEntries();
    HMODULE loaded = GetModuleHandleW(L"rasapi32.dll");
    ASSERT_NE(loaded, nullptr);
    using TVariant = const wchar_t*(WINAPI*)();
    auto variant = fw::GetProc<TVariant>(loaded, "RasSimVariant");
    ASSERT_NE(variant, nullptr) << "not the simulated service";
    EXPECT_STREQ(variant(), L"system32");
}

} // namespace
