// Autorun against the (Wine) registry of the test prefix.
#include <gtest/gtest.h>

#include <windows.h>

#include "framework/Handles.h"
#include "framework/Locale.h"
#include "settings/uAutoRun.h"
#include "tests/TestSupport.h"

namespace {

using namespace uAutoRun;

constexpr wchar_t KRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t KApprovedKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
constexpr wchar_t KName[] = L"TarnwickTest";

std::wstring ExePath()
{
    wchar_t path[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
    return path;
}

fw::TRegKey RunKey()
{
    fw::TRegKey key;
    RegCreateKeyExW(HKEY_CURRENT_USER, KRunKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
    return key;
}

void SetValue(DWORD AType, const std::wstring& AText)
{
    RegSetValueExW(RunKey().Get(), KName, 0, AType, reinterpret_cast<const BYTE*>(AText.c_str()),
                   static_cast<DWORD>((AText.size() + 1) * sizeof(wchar_t)));
}

// The stored value: its type and text, or type 0 when there is none.
std::pair<DWORD, std::wstring> Value()
{
    DWORD type = 0, size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, KRunKey, KName, RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr, &size) !=
        ERROR_SUCCESS)
        return {0, L""};
    std::wstring data(size / sizeof(wchar_t), L'\0');
    RegGetValueW(HKEY_CURRENT_USER, KRunKey, KName, RRF_RT_ANY | RRF_NOEXPAND, &type, data.data(), &size);
    if (type == REG_SZ || type == REG_EXPAND_SZ) data.resize(wcsnlen(data.c_str(), data.size()));
    return {type, data};
}

bool RunKeyExists()
{
    fw::TRegKey key;
    return RegOpenKeyExW(HKEY_CURRENT_USER, KRunKey, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

std::wstring Quoted(const std::wstring& AText)
{
    return L"\"" + AText + L"\"";
}

fw::TRegKey ApprovedKey()
{
    fw::TRegKey key;
    RegCreateKeyExW(HKEY_CURRENT_USER, KApprovedKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);
    return key;
}

// The StartupApproved value of the name: its type and bytes, or type 0 when there is none.
std::pair<DWORD, std::vector<BYTE>> Approved()
{
    DWORD type = 0, size = 0;
    if (RegGetValueW(HKEY_CURRENT_USER, KApprovedKey, KName, RRF_RT_ANY, &type, nullptr, &size) != ERROR_SUCCESS)
        return {0, {}};
    std::vector<BYTE> data(size);
    RegGetValueW(HKEY_CURRENT_USER, KApprovedKey, KName, RRF_RT_ANY, &type, data.data(), &size);
    return {type, data};
}

void SetApproved(DWORD AType, const std::vector<BYTE>& AData)
{
    RegSetValueExW(ApprovedKey().Get(), KName, 0, AType, AData.data(), static_cast<DWORD>(AData.size()));
}

std::wstring SwapCase(std::wstring AText)
{
    for (auto& c : AText) c = iswupper(c) ? towlower(c) : towupper(c);
    return AText;
}

class AutoRunTest : public testing::Test {
protected:
    ~AutoRunTest() override
    {
        RegDeleteValueW(RunKey().Get(), KName);
        RegDeleteValueW(ApprovedKey().Get(), KName);
    }
};

TEST_F(AutoRunTest, RegisterWritesTheQuotedPathAsAStringWithItsNulCounted)
{
    RegDeleteValueW(RunKey().Get(), KName);
    EXPECT_FALSE(IsAutoRun(KName));
    EXPECT_TRUE(RegisterAutoRun(KName));
    EXPECT_EQ(Value(), std::make_pair(static_cast<DWORD>(REG_SZ), Quoted(ExePath())));
    DWORD size = 0;
    RegQueryValueExW(RunKey().Get(), KName, nullptr, nullptr, nullptr, &size);
    EXPECT_EQ(size, (ExePath().size() + 3) * sizeof(wchar_t));
    EXPECT_TRUE(IsAutoRun(KName));
}

TEST_F(AutoRunTest, WhatCountsAsThisExecutable)
{
    const struct {
        const char* Title;
        DWORD Type;
        std::wstring Data;
        bool Registered;
    } cases[] = {
        {"same path", REG_SZ, ExePath(), true},
        {"other letter case", REG_SZ, SwapCase(ExePath()), true},
        {"quoted", REG_SZ, Quoted(ExePath()), true},
        {"quoted, other letter case", REG_SZ, Quoted(SwapCase(ExePath())), true},
        {"with an argument", REG_SZ, ExePath() + L" /min", false},
        {"quoted, with an argument", REG_SZ, Quoted(ExePath()) + L" /min", false},
        {"quoted twice", REG_SZ, Quoted(Quoted(ExePath())), false},
        {"one quote", REG_SZ, L"\"" + ExePath(), false},
        {"trailing blank", REG_SZ, ExePath() + L" ", false},
        {"another copy", REG_SZ, L"C:\\Other\\Tarnwick.exe", false},
        {"expandable, raw text equal", REG_EXPAND_SZ, ExePath(), true},
        {"expandable, with a variable", REG_EXPAND_SZ, L"%SystemDrive%" + ExePath().substr(2), false},
        {"empty", REG_SZ, L"", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Title);
        SetValue(c.Type, c.Data);
        EXPECT_EQ(IsAutoRun(KName), c.Registered);
    }
}

// Task Manager's and Settings' startup switch: a StartupApproved value of the
// same name, switched off when the lowest bit of its first byte is set.
TEST_F(AutoRunTest, TheStartupSwitchCountsForTheValueThatNamesThisExecutable)
{
    // The state, then the time of the change.
    auto mark = [](BYTE AState) {
        return std::vector<BYTE>{AState, 0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0x0E, 0, 0, 0};
    };
    const std::vector<BYTE> enabledByTaskManager = {0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    const struct {
        const char* Title;
        DWORD Type; // 0: no value
        std::vector<BYTE> Data;
        bool Off;
    } marks[] = {
        {"no mark", 0, {}, false},
        {"02: on", REG_BINARY, mark(0x02), false},
        {"03: off", REG_BINARY, mark(0x03), true},
        {"07: off too", REG_BINARY, mark(0x07), true},
        {"another type", REG_DWORD, {3, 0, 0, 0}, false},
        {"empty", REG_BINARY, {}, false},
    };
    const struct {
        const char* Title;
        DWORD Type; // 0: no value
        std::wstring Data;
        bool Names; // names this executable
    } runs[] = {
        {"no Run value", 0, L"", false},
        {"bare", REG_SZ, ExePath(), true},
        {"quoted", REG_SZ, Quoted(ExePath()), true},
        {"other letter case", REG_SZ, SwapCase(ExePath()), true},
        {"another copy", REG_SZ, L"C:\\Other\\Tarnwick.exe", false},
        {"quoted, with an argument", REG_SZ, Quoted(ExePath()) + L" /min", false},
        {"expandable", REG_EXPAND_SZ, ExePath(), true},
        {"a number", REG_DWORD, L"", false},
    };
    for (const auto& m : marks) {
        for (const auto& r : runs) {
            SCOPED_TRACE(testing::Message() << r.Title << ", " << m.Title);
            RegDeleteValueW(RunKey().Get(), KName);
            RegDeleteValueW(ApprovedKey().Get(), KName);
            if (r.Type == REG_DWORD) {
                DWORD number = 1;
                RegSetValueExW(RunKey().Get(), KName, 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4);
            } else if (r.Type != 0) {
                SetValue(r.Type, r.Data);
            }
            if (m.Type != 0) SetApproved(m.Type, m.Data);

            if (r.Type == REG_DWORD)
                EXPECT_EQ(test::ThrownMessage<ERegistryException>([] { IsAutoRun(KName); }),
                          L"'TarnwickTest' のデータ型が不正です");
            else
                EXPECT_EQ(IsAutoRun(KName), r.Names && !m.Off);

            // Ticking the box: the quoted path, switched on where it was off, and nothing else touched.
            EXPECT_TRUE(RegisterAutoRun(KName));
            EXPECT_EQ(Value(), std::make_pair(static_cast<DWORD>(REG_SZ), Quoted(ExePath())));
            EXPECT_EQ(Approved(), m.Off ? std::make_pair(static_cast<DWORD>(REG_BINARY), enabledByTaskManager)
                                        : std::make_pair(m.Type, m.Data));
            EXPECT_TRUE(IsAutoRun(KName));
        }
    }
}

TEST_F(AutoRunTest, UnregisterDeletesWhateverTheValueHolds)
{
    for (const std::wstring& data : {ExePath(), std::wstring(L"C:\\Other\\Tarnwick.exe"), Quoted(ExePath())}) {
        SetValue(REG_SZ, data);
        EXPECT_TRUE(UnregisterAutoRun(KName));
        EXPECT_EQ(Value().first, 0u);
    }
    EXPECT_TRUE(UnregisterAutoRun(KName)) << "nothing to delete is no error";
}

TEST_F(AutoRunTest, AValueOfAnotherTypeIsAnErrorForTheQueryOnly)
{
    DWORD number = 1;
    auto setDword = [&] { RegSetValueExW(RunKey().Get(), KName, 0, REG_DWORD, reinterpret_cast<BYTE*>(&number), 4); };
    setDword();
    EXPECT_EQ(test::ThrownMessage<ERegistryException>([] { IsAutoRun(KName); }),
              L"'TarnwickTest' のデータ型が不正です");
    EXPECT_TRUE(RegisterAutoRun(KName));
    EXPECT_EQ(Value(), std::make_pair(static_cast<DWORD>(REG_SZ), Quoted(ExePath())));
    setDword();
    EXPECT_TRUE(UnregisterAutoRun(KName));
    EXPECT_EQ(Value().first, 0u);
}

TEST_F(AutoRunTest, AMissingRunKeyIsNotCreatedByTheQuery)
{
    fw::TRegKey parent;
    RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_ALL_ACCESS, parent.Put());
    // Keep the prefix's own values to put them back afterwards.
    std::vector<std::pair<std::wstring, std::wstring>> kept;
    {
        fw::TRegKey run = RunKey();
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD n = 256, type = 0, size = 0;
            if (RegEnumValueW(run.Get(), i, name, &n, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
            std::wstring data(size / sizeof(wchar_t) + 1, L'\0');
            DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
            RegQueryValueExW(run.Get(), name, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &bytes);
            if (type == REG_SZ) kept.emplace_back(name, data.c_str());
        }
    }
    ASSERT_EQ(RegDeleteTreeW(parent.Get(), L"Run"), ERROR_SUCCESS);
    ASSERT_FALSE(RunKeyExists());
    EXPECT_FALSE(IsAutoRun(KName));
    EXPECT_FALSE(RunKeyExists());
    EXPECT_TRUE(UnregisterAutoRun(KName));
    EXPECT_TRUE(RunKeyExists());
    RegDeleteTreeW(parent.Get(), L"Run");
    EXPECT_TRUE(RegisterAutoRun(KName));
    EXPECT_TRUE(RunKeyExists());
    for (auto& [name, data] : kept)
        RegSetValueExW(RunKey().Get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

// A path that does not fit the buffer would be written cut, naming whatever
// file sits at the cut: it is never written and never matches. The test's
// own path stands in for a long one through a buffer one unit too small.
TEST_F(AutoRunTest, APathLongerThanTheBufferIsNeitherWrittenNorMatched)
{
    const size_t fits = ExePath().size() + 1;
    auto buffer = [](size_t AUnits) {
        return test::TServicesScope([&](fw::TServices& AServices) { AServices.PathBufferUnits = AUnits; });
    };
    {
        auto tooSmall = buffer(fits - 1);
        RegDeleteValueW(RunKey().Get(), KName);
        EXPECT_FALSE(RegisterAutoRun(KName));
        EXPECT_EQ(Value().first, 0u) << "nothing written";

        SetValue(REG_SZ, L"C:\\Other\\Tarnwick.exe");
        EXPECT_FALSE(RegisterAutoRun(KName));
        EXPECT_EQ(Value(), std::make_pair(static_cast<DWORD>(REG_SZ), std::wstring(L"C:\\Other\\Tarnwick.exe")));

        SetValue(REG_SZ, ExePath());
        EXPECT_FALSE(IsAutoRun(KName));
        SetValue(REG_SZ, ExePath().substr(0, fits - 2));
        EXPECT_FALSE(IsAutoRun(KName)) << "the cut path is not this executable";
    }
    auto justFits = buffer(fits);
    SetValue(REG_SZ, ExePath());
    EXPECT_TRUE(IsAutoRun(KName));
    RegDeleteValueW(RunKey().Get(), KName);
    EXPECT_TRUE(RegisterAutoRun(KName));
    EXPECT_EQ(Value(), std::make_pair(static_cast<DWORD>(REG_SZ), Quoted(ExePath())));
}

// Run by ctest a second time with TARNWICK_LOCALE=tr_TR.UTF-8, which tools/wine/wine
// passes on as LC_ALL: Wine starts the process with the Turkish locale.
TEST_F(AutoRunTest, TheComparisonFollowsTheLocaleReadAtStart)
{
    std::wstring path = ExePath();
    ASSERT_NE(path.find(L'i'), std::wstring::npos) << "the path needs an i";
    std::wstring dotless = path;
    for (auto& c : dotless)
        if (c == L'i') c = L'\u0131';
    SetValue(REG_SZ, dotless);
    wchar_t expected[16] = {};
    if (GetEnvironmentVariableW(L"EXPECT_LOCALE", expected, 16)) {
        ASSERT_EQ(fw::StartupLocale(), wcstoul(expected, nullptr, 16)) << "the run did not get its locale";
    }
    if (fw::StartupLocale() == 0x041F) {
        // Turkish: i upper-cases to a dotted capital, the dotless one to I.
        EXPECT_FALSE(IsAutoRun(KName));
    } else {
        EXPECT_EQ(fw::StartupLocale(), 0x0409u);
        EXPECT_TRUE(IsAutoRun(KName));
    }
}

} // namespace
