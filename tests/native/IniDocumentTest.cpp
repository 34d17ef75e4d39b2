#include "settings/IniDocument.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

using settings::EIniEncodingError;
using settings::TIniDocument;
using settings::TryStrToInt;
using namespace std::string_literals;

namespace {

constexpr std::u16string_view kSection = u"system";
constexpr std::u16string_view kKey = u"enable_notification";

const std::string kBom = "\xEF\xBB\xBF";
const std::string kNormalTrue = kBom + "[system]\r\nenable_notification=1\r\n\r\n";
const std::string kNormalFalse = kBom + "[system]\r\nenable_notification=0\r\n\r\n";

std::u16string AsciiUpper(std::u16string_view AText)
{
    std::u16string out(AText);
    for (char16_t& c : out)
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
    return out;
}

TIniDocument Parse(std::string_view ABytes)
{
    return TIniDocument::Parse(ABytes, AsciiUpper);
}

// nullopt: the read gives whatever default is passed.
void ExpectRead(const TIniDocument& ADocument, std::optional<bool> AExpected, std::u16string_view ASection = kSection,
                std::u16string_view AKey = kKey)
{
    if (AExpected) {
        EXPECT_EQ(ADocument.ReadBool(ASection, AKey, true), *AExpected);
        EXPECT_EQ(ADocument.ReadBool(ASection, AKey, false), *AExpected);
    } else {
        EXPECT_TRUE(ADocument.ReadBool(ASection, AKey, true));
        EXPECT_FALSE(ADocument.ReadBool(ASection, AKey, false));
    }
}

TEST(IniDocument, EmptyDocumentWritesTheNormalForm)
{
    TIniDocument document(AsciiUpper);
    EXPECT_EQ(document.Serialize(), kBom);
    ExpectRead(document, std::nullopt);

    document.WriteBool(kSection, kKey, true);
    EXPECT_EQ(document.Serialize().size(), 38u);
    EXPECT_EQ(document.Serialize(), kNormalTrue);
    ExpectRead(document, true);

    document.WriteBool(kSection, kKey, false);
    EXPECT_EQ(document.Serialize(), kNormalFalse);
    ExpectRead(document, false);

    ExpectRead(Parse(""), std::nullopt);
    ExpectRead(Parse(kBom), std::nullopt);
}

// A file is read, the setting read, then written, then the file saved.
struct TRoundTripCase {
    const char* Name;
    std::string Input;
    std::optional<bool> Read;
    bool Write;
    std::string Output; // after the BOM
};

TEST(IniDocument, ReadWriteRoundTrips)
{
    const std::vector<TRoundTripCase> cases = {
        {"letter case and blanks around =", "[SYSTEM]\r\nEnable_Notification = 0\r\n", false, false,
         "[SYSTEM]\r\nEnable_Notification=0\r\n\r\n"},
        {"tabs and header blanks", "[\t system ]\r\n\tenable_notification\t=\t0\t\r\n", false, true,
         "[system]\r\nenable_notification=1\r\n\r\n"},
        {"entry before any header", "enable_notification=0\r\n", std::nullopt, true,
         "[system]\r\nenable_notification=1\r\n\r\n"},
        {"key only in a duplicate section", "[system]\r\nother=1\r\n[System]\r\nenable_notification=0\r\n",
         std::nullopt, true, "[system]\r\nother=1\r\nenable_notification=1\r\n\r\n"},
        {"first of duplicate keys", "[system]\r\nenable_notification=0\r\nENABLE_NOTIFICATION = 5\r\n", false, true,
         "[system]\r\nenable_notification=1\r\nENABLE_NOTIFICATION=5\r\n\r\n"},
        {"no BOM, LF line ends", "[system]\nenable_notification=0\n", false, true,
         "[system]\r\nenable_notification=1\r\n\r\n"},
        {"BOM kept single", kBom + "[system]\r\nenable_notification=1\r\n", true, false,
         "[system]\r\nenable_notification=0\r\n\r\n"},
        {"lone CR line ends", "[system]\rother=1\renable_notification=0", false, false,
         "[system]\r\nother=1\r\nenable_notification=0\r\n\r\n"},
        {"LF CR is two line ends", "[system]\n\renable_notification=0\n\r", false, true,
         "[system]\r\nenable_notification=1\r\n\r\n"},
        {"header with a comment is no header", "[system] ; main\r\nenable_notification=0\r\n", std::nullopt, false,
         "[system]\r\nenable_notification=0\r\n\r\n"},
        {"header with a comment inside a section", "[a]\r\n[system] ;x\r\nenable_notification=0\r\n", std::nullopt,
         true, "[a]\r\n[system] ;x\r\nenable_notification=0\r\n\r\n[system]\r\nenable_notification=1\r\n\r\n"},
        {"commented-out entry", "[system]\r\n;enable_notification=0\r\n  ; enable_notification=0\r\n", std::nullopt,
         false, "[system]\r\nenable_notification=0\r\n\r\n"},
        {"valueless line named by the key", "[system]\r\nEnable_Notification\r\nenable_notification=0\r\n",
         std::nullopt, false, "[system]\r\nEnable_Notification=0\r\nenable_notification=0\r\n\r\n"},
        {"missing section appended at the end", "[other]\r\na=1\r\n", std::nullopt, false,
         "[other]\r\na=1\r\n\r\n[system]\r\nenable_notification=0\r\n\r\n"},
        {"missing key appended to its section", "[system]\r\na=1\r\n[b]\r\n", std::nullopt, false,
         "[system]\r\na=1\r\nenable_notification=0\r\n\r\n[b]\r\n\r\n"},
        {"unknown content survives in order; comments and blank lines do not",
         "; head\r\n\r\nstray=1\r\n[main]\r\n  window = 3 \r\nvalueless line\r\n; note\r\n#hash=0\r\n"
         "[system]\r\nbefore = x = y\r\nenable_notification=1\r\n  after  \r\n\r\n[tail]\r\nz=\r\n=v\r\n[x",
         true, false,
         "[main]\r\nwindow=3\r\nvalueless line\r\n#hash=0\r\n\r\n"
         "[system]\r\nbefore=x = y\r\nenable_notification=0\r\nafter\r\n\r\n"
         "[tail]\r\nz=\r\n=v\r\n[x\r\n\r\n"},
        {"non-ASCII text kept", "[système]\r\nclé=1\r\n[system]\r\nenable_notification=0\r\n", false, true,
         "[système]\r\nclé=1\r\n\r\n[system]\r\nenable_notification=1\r\n\r\n"},
    };
    for (const TRoundTripCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TIniDocument document = Parse(c.Input);
        ExpectRead(document, c.Read);
        document.WriteBool(kSection, kKey, c.Write);
        ExpectRead(document, c.Write);
        const std::string saved = document.Serialize();
        EXPECT_EQ(saved, kBom + c.Output);
        EXPECT_EQ(Parse(saved).Serialize(), saved);
    }
}

TEST(IniDocument, ValueConversion)
{
    const struct {
        std::string Value;
        std::optional<bool> Read;
    } cases[] = {
        {"0", false},
        {"00", false},
        {"-0", false},
        {"+0", false},
        {"0x0", false},
        {"0X00", false},
        {"$0", false},
        {"x0", false},
        {"1", true},
        {"2", true},
        {"-1", true},
        {"0x10", true},
        {"X1", true},
        {"$FFFFFFFF", true},
        {"-2147483648", true},
        {"2147483647", true},
        {"", std::nullopt},
        {"false", std::nullopt},
        {"true", std::nullopt},
        {"no", std::nullopt},
        {"yes", std::nullopt},
        {"0 ; c", std::nullopt},
        {"0x", std::nullopt},
        {"0.0", std::nullopt},
        {"1e3", std::nullopt},
        {"2147483648", std::nullopt},
        {"$100000000", std::nullopt},
        {"0x0x1", std::nullopt},
        {"\xC2\xA0"
         "0",
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("value \"" + c.Value + "\"");
        ExpectRead(Parse("[system]\r\nenable_notification=" + c.Value + "\r\n"), c.Read);
    }
}

TEST(IniDocument, TryStrToInt)
{
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    const struct {
        std::u16string_view Text;
        std::optional<int32_t> Result;
    } cases[] = {
        {u"0", 0},
        {u"+7", 7},
        {u"-7", -7},
        {u" \t\r12", 12},
        {u"000000000000000000001", 1},
        {u"2147483647", kMax},
        {u"-2147483648", kMin},
        {u"$7fffffff", kMax},
        {u"$80000000", kMin},
        {u"$FFFFFFFF", -1},
        {u"$0000000000ff", 255},
        {u"x1f", 31},
        {u"X1F", 31},
        {u"0x1F", 31},
        {u"0X1f", 31},
        {u"+$10", 16},
        {u"-0x10", -16},
        {u"-$1", -1},
        {u"-$80000000", kMin},
        {u"-$FFFFFFFF", 1},
        {u"2147483648", std::nullopt},
        {u"-2147483649", std::nullopt},
        {u"99999999999999999999", std::nullopt},
        {u"$100000000", std::nullopt},
        {u"", std::nullopt},
        {u"  ", std::nullopt},
        {u"+", std::nullopt},
        {u"-", std::nullopt},
        {u"$", std::nullopt},
        {u"0x", std::nullopt},
        {u"-x", std::nullopt},
        {u"12 ", std::nullopt},
        {u"12a", std::nullopt},
        {u"1f", std::nullopt},
        {u"$g", std::nullopt},
        {u"--1", std::nullopt},
        {u"- 1", std::nullopt},
        {u"$-1", std::nullopt},
        {u"$ 1", std::nullopt},
        {u"0x$1", std::nullopt},
        {std::u16string_view(u"1\0", 2), std::nullopt},
        {u"\u00A01", std::nullopt},
        {u"\uFF11", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        EXPECT_EQ(TryStrToInt(c.Text), c.Result);
    }
}

TEST(IniDocument, InvalidUtf8IsRejected)
{
    const struct {
        const char* Name;
        std::string Bytes;
        size_t Offset;
    } cases[] = {
        {"UTF-16 LE with BOM", "\xFF\xFE[\0s\0]\0\r\0\n\0"s, 0},
        {"UTF-16 BE with BOM", "\xFE\xFF\0[\0s\0]"s, 0},
        {"Latin-1 letter", "[system]\r\nname=caf\xE9\r\n", 18},
        {"lone continuation byte", "[s]\x80", 3},
        {"overlong two bytes", "\xC0\xAF", 0},
        {"overlong C1", "\xC1\xBF", 0},
        {"overlong three bytes", "\xE0\x9F\xBF", 0},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF", 0},
        {"encoded high surrogate", "a\xED\xA0\x80", 1},
        {"encoded low surrogate", "\xED\xBF\xBF", 0},
        {"above U+10FFFF", "\xF4\x90\x80\x80", 0},
        {"F5 lead byte", "\xF5\x80\x80\x80", 0},
        {"FF byte", "\xFF", 0},
        {"truncated at the end", "ok\xE2\x82", 2},
        {"truncated before ASCII", "\xE2\x82=", 0},
        {"truncated four bytes", "\xF0\x9F\x98=", 0},
        {"after a BOM", kBom + "[s]\xC3", 6},
        {"partial BOM", "\xEF\xBB", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        try {
            Parse(c.Bytes);
            ADD_FAILURE() << "accepted";
        } catch (const EIniEncodingError& e) {
            EXPECT_EQ(e.Offset(), c.Offset);
            EXPECT_STRNE(e.what(), "");
        }
    }
}

TEST(IniDocument, Utf8BoundariesSurviveASave)
{
    const char* sequences[] = {
        "\x01",         "\x7F",         "\xC2\x80",     "\xDF\xBF",         "\xE0\xA0\x80",     "\xED\x9F\xBF",
        "\xEE\x80\x80", "\xEF\xBF\xBF", "\xEF\xBB\xBF", "\xF0\x90\x80\x80", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF",
    };
    for (const char* sequence : sequences) {
        SCOPED_TRACE(testing::PrintToString(std::string(sequence)));
        const std::string body = "[s]\r\nk" + std::string(sequence) + "v=x" + sequence + "y\r\n\r\n";
        EXPECT_EQ(Parse(body).Serialize(), kBom + body);
    }
}

TEST(IniDocument, NamesMatchThroughThePassedUpperCaser)
{
    // Cyrillic and Latin-1 lower-case letters, which the ASCII upper-caser leaves alone.
    auto wideUpper = [](std::u16string_view AText) {
        std::u16string out = AsciiUpper(AText);
        for (char16_t& c : out)
            if ((c >= 0x430 && c <= 0x44F) || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
                c = static_cast<char16_t>(c - 0x20);
        return out;
    };
    const std::string file = "[Настройки]\r\nвключено=0\r\n[été]\r\nk=0\r\n[ÉTÉ]\r\nk=1\r\n";

    const TIniDocument ascii = TIniDocument::Parse(file, AsciiUpper);
    ExpectRead(ascii, std::nullopt, u"НАСТРОЙКИ", u"ВКЛЮЧЕНО");
    ExpectRead(ascii, true, u"ÉTÉ", u"k");

    TIniDocument wide = TIniDocument::Parse(file, wideUpper);
    ExpectRead(wide, false, u"НАСТРОЙКИ", u"ВКЛЮЧЕНО");
    ExpectRead(wide, false, u"ÉTÉ", u"K");
    wide.WriteBool(u"настройки", u"ВКЛЮЧЕНО", true);
    EXPECT_EQ(wide.Serialize(), kBom + "[Настройки]\r\nвключено=1\r\n\r\n[été]\r\nk=0\r\n\r\n");
}

TEST(IniDocument, WrittenNamesReadBackAfterASave)
{
    const struct {
        std::u16string_view Section;
        std::u16string_view Key;
    } cases[] = {
        {u"", u""}, {u"a]", u"[k"}, {u"x]y", u"a b"}, {u"[s", u"k]"}, {u"\U0001F600", u"\U0001F600"}, {u"s;", u"#k"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        for (bool value : {false, true}) {
            TIniDocument document = Parse("[other]\r\nk=1\r\n");
            document.WriteBool(c.Section, c.Key, value);
            ExpectRead(document, value, c.Section, c.Key);
            const std::string saved = document.Serialize();
            ExpectRead(Parse(saved), value, c.Section, c.Key);
            EXPECT_EQ(Parse(saved).Serialize(), saved);
        }
    }
}

TEST(IniDocument, NamesThatCannotReadBackAreRefused)
{
    const struct {
        std::u16string_view Section;
        std::u16string_view Key;
    } cases[] = {
        {u"a\r\nb", u"k"}, {u"a\rb", u"k"}, {u" s", u"k"}, {u"s\t", u"k"},  {u"\xD800", u"k"}, {u"s", u"k=v"},
        {u"s", u";k"},     {u"s", u" k"},   {u"s", u"k "}, {u"s", u"a\nb"}, {u"s", u"\xDC00"}, {u"s", u"a\xD83D"},
    };
    const std::string file = "[s]\r\nk=0\r\n";
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        TIniDocument document = Parse(file);
        EXPECT_THROW(document.WriteBool(c.Section, c.Key, true), std::invalid_argument);
        EXPECT_EQ(document.Serialize(), kBom + file + "\r\n");
    }
}

} // namespace
