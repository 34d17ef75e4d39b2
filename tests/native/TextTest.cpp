#include "framework/Text.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

using namespace fw;
using namespace std::string_literals;

namespace {

constexpr size_t kNone = std::string_view::npos;

struct TDecodeCase {
    const char* Title;
    std::string Bytes;
    size_t InvalidAt;    // kNone: well-formed
    std::u16string Text; // the lenient result; also the strict one when well-formed
};

TEST(Text, StrictRejectsExactlyWhatLenientReplaces)
{
    const TDecodeCase cases[] = {
        {"empty", "", kNone, u""},
        {"one to four bytes", "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", kNone, u"A\u00E9\u20AC\U0001F600"},
        {"the extremes", "\x00\x7F\xC2\x80\xEF\xBF\xBF\xF4\x8F\xBF\xBF"s, kNone, u"\0\x7F\x80\uFFFF\U0010FFFF"s},
        {"an encoded U+FFFD is text", "\xEF\xBF\xBD", kNone, u"\uFFFD"},
        {"lone continuation", "a\x80z", 1, u"a\uFFFDz"},
        {"overlong two bytes", "\xC0\xAF", 0, u"\uFFFD\uFFFD"},
        {"overlong three bytes", "\xE0\x9F\xBF", 0, u"\uFFFD\uFFFD\uFFFD"},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF", 0, u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"encoded surrogate", "x\xED\xA0\x80", 1, u"x\uFFFD\uFFFD\uFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", 0, u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"lead byte F5 to FF", "\xF5\x80\x80|\xFF", 0, u"\uFFFD\uFFFD\uFFFD|\uFFFD"},
        {"cut short at the end", "ok\xE2\x82", 2, u"ok\uFFFD\uFFFD"},
        {"cut short by ASCII", "\xE2\x82=1", 0, u"\uFFFD\uFFFD=1"},
        {"good text after a bad byte", "\xFE\xC3\xA9", 0, u"\uFFFD\u00E9"},
    };
    for (const TDecodeCase& c : cases) {
        SCOPED_TRACE(c.Title);
        EXPECT_EQ(FindInvalidUtf8(c.Bytes), c.InvalidAt);
        const std::optional<std::u16string> strict = Utf8ToUtf16Strict(c.Bytes);
        EXPECT_EQ(strict.has_value(), c.InvalidAt == kNone);
        if (strict) EXPECT_EQ(*strict, c.Text);
        EXPECT_EQ(Utf8ToUtf16(c.Bytes), c.Text);
    }
}

TEST(Text, EncodingWritesUnpairedSurrogatesAsReplacement)
{
    const std::pair<std::u16string, std::string> cases[] = {
        {u"\U0001F600", "\xF0\x9F\x98\x80"},
        {u"a\xD83D", "a\xEF\xBF\xBD"},
        {u"\xDE00z", "\xEF\xBF\xBDz"},
        {u"\xDE00\xD83D", "\xEF\xBF\xBD\xEF\xBF\xBD"},
        {u"\xD83D\xD83D\xDE00", "\xEF\xBF\xBD\xF0\x9F\x98\x80"},
    };
    for (const auto& [text, bytes] : cases) EXPECT_EQ(Utf16ToUtf8(text), bytes);
}

// Every scalar value, in one string: UTF-16 to UTF-8 and back is the identity.
TEST(Text, EveryScalarValueRoundTrips)
{
    std::u16string all;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (IsSurrogate(c)) continue;
        if (c < 0x10000) {
            all.push_back(static_cast<char16_t>(c));
        } else {
            all.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            all.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        }
    }
    const std::string bytes = Utf16ToUtf8(all);
    // 128 one-byte, 1920 two-byte, 61440 three-byte (no surrogates), 1048576 four-byte.
    EXPECT_EQ(bytes.size(), 128u + 1920u * 2 + 61440u * 3 + 1048576u * 4);
    EXPECT_EQ(FindInvalidUtf8(bytes), kNone);
    const std::optional<std::u16string> back = Utf8ToUtf16Strict(bytes);
    ASSERT_TRUE(back);
    EXPECT_TRUE(*back == all); // not EXPECT_EQ: a failure would print megabytes
}

TEST(Text, SurrogatePairsStayWhole)
{
    const std::pair<std::u16string, bool> wellFormed[] = {
        {u"", true},        {u"a\U0001F600b", true},  {u"\xD83D", false},
        {u"\xDE00", false}, {u"\xDE00\xD83D", false}, {u"\xD83D\xD83D\xDE00", false},
    };
    for (const auto& [text, expected] : wellFormed) EXPECT_EQ(IsWellFormedUtf16(text), expected);

    const std::u16string text = u"ab\U0001F600c";
    const std::pair<size_t, std::u16string_view> cuts[] = {
        {0, u""}, {2, u"ab"}, {3, u"ab"}, {4, u"ab\U0001F600"}, {5, text}, {99, text},
    };
    for (const auto& [max, expected] : cuts) EXPECT_EQ(CutUtf16(text, max), expected) << max;
    EXPECT_EQ(CutUtf16(u"a\xDE00\xDE00", 2), u"a\xDE00") << "only a whole pair holds the cut back";
}

TEST(Text, BlanksAreTheControlCharactersAndTheSpace)
{
    const std::u16string blanks(u"\0\t\n\r\x1F "s);
    EXPECT_EQ(Trim(blanks), u"");
    EXPECT_EQ(Trim(blanks + u"a b" + blanks), u"a b");
    EXPECT_EQ(TrimLeft(u" a "), u"a ");
    EXPECT_EQ(TrimRight(u" a "), u" a");
    // Neither the no-break nor the ideographic space, nor DEL, is blank.
    for (std::u16string_view kept : {u"\u00A0", u"\u3000", u"\x7F"}) EXPECT_EQ(Trim(kept), kept);
}

TEST(Text, HexDigitsInEitherCaseAndNothingElse)
{
    const std::u16string_view digits = u"0123456789abcdefABCDEF";
    for (size_t i = 0; i < digits.size(); ++i)
        EXPECT_EQ(HexDigitValue(digits[i]), static_cast<int>(i < 16 ? i : i - 6)) << static_cast<char>(digits[i]);
    // The neighbours of each range, and look-alikes beyond ASCII.
    for (char16_t c : u"/:@G`g \uFF10\uFF21") EXPECT_EQ(HexDigitValue(c), -1) << static_cast<int>(c);
}

} // namespace
