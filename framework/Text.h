#pragma once
// UTF-16 text and its UTF-8 form: the surrogate rules, what counts as blank,
// hexadecimal digits, and the two conversions, strict for readers that must
// reject bad input and lenient for text that is only shown or passed on.
// Platform-free, on char16_t (wchar_t is 32 bits off Windows), so it is also
// built natively for the sanitizers and the fuzzer. Windows code, where
// wchar_t is 16 bits, uses the std::wstring forms at the end.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace fw {

// What a lenient conversion puts in place of what it cannot read.
constexpr char16_t KReplacementCharacter = 0xFFFD;

constexpr bool IsHighSurrogate(char32_t AUnit) noexcept
{
    return AUnit >= 0xD800 && AUnit <= 0xDBFF;
}
constexpr bool IsLowSurrogate(char32_t AUnit) noexcept
{
    return AUnit >= 0xDC00 && AUnit <= 0xDFFF;
}
constexpr bool IsSurrogate(char32_t AUnit) noexcept
{
    return AUnit >= 0xD800 && AUnit <= 0xDFFF;
}

// Control characters and the space: what our text formats treat as blank.
constexpr bool IsBlank(char32_t AChar) noexcept
{
    return AChar <= 0x20;
}

// The value of a hexadecimal digit in either letter case; -1 for anything else.
constexpr int HexDigitValue(char32_t AChar) noexcept
{
    if (AChar >= '0' && AChar <= '9') return static_cast<int>(AChar - '0');
    if (AChar >= 'a' && AChar <= 'f') return static_cast<int>(AChar - 'a' + 10);
    if (AChar >= 'A' && AChar <= 'F') return static_cast<int>(AChar - 'A' + 10);
    return -1;
}

namespace TextDetail {

template <typename C>
constexpr std::basic_string_view<C> TrimLeft(std::basic_string_view<C> AText) noexcept
{
    size_t start = 0;
    while (start < AText.size() && IsBlank(AText[start])) ++start;
    return AText.substr(start);
}

template <typename C>
constexpr std::basic_string_view<C> TrimRight(std::basic_string_view<C> AText) noexcept
{
    size_t end = AText.size();
    while (end > 0 && IsBlank(AText[end - 1])) --end;
    return AText.substr(0, end);
}

template <typename C>
constexpr std::basic_string_view<C> CutUtf16(std::basic_string_view<C> AText, size_t AMaxUnits) noexcept
{
    if (AText.size() <= AMaxUnits) return AText;
    size_t n = AMaxUnits;
    if (n > 0 && IsHighSurrogate(AText[n - 1]) && IsLowSurrogate(AText[n])) --n;
    return AText.substr(0, n);
}

} // namespace TextDetail

// AText without its blanks at the start, at the end, or both.
constexpr std::u16string_view TrimLeft(std::u16string_view AText) noexcept
{
    return TextDetail::TrimLeft(AText);
}
constexpr std::u16string_view TrimRight(std::u16string_view AText) noexcept
{
    return TextDetail::TrimRight(AText);
}
constexpr std::u16string_view Trim(std::u16string_view AText) noexcept
{
    return TrimRight(TrimLeft(AText));
}

// The first AMaxUnits units of AText, one fewer when the cut would separate
// a surrogate pair.
constexpr std::u16string_view CutUtf16(std::u16string_view AText, size_t AMaxUnits) noexcept
{
    return TextDetail::CutUtf16(AText, AMaxUnits);
}

// Whether every surrogate in AText is half of a pair.
bool IsWellFormedUtf16(std::u16string_view AText) noexcept;

// The offset of the first byte that begins no well-formed UTF-8 sequence
// (shortest form, no encoded surrogate, nothing above U+10FFFF, nothing cut
// short), or std::string_view::npos when there is none.
size_t FindInvalidUtf8(std::string_view ABytes) noexcept;

// Strict: the text, or nothing when ABytes is not well-formed UTF-8.
std::optional<std::u16string> Utf8ToUtf16Strict(std::string_view ABytes);

// Lenient: every byte that begins no well-formed sequence becomes one
// U+FFFD, and reading goes on with the next byte. Equal to the strict result
// wherever that exists.
std::u16string Utf8ToUtf16(std::string_view ABytes);

// UTF-8 of AText; an unpaired surrogate is written as U+FFFD, so the result
// is always well-formed.
void AppendUtf8(std::string& AOut, std::u16string_view AText);
std::string Utf16ToUtf8(std::u16string_view AText);

#ifdef _WIN32
// The same for Windows text, whose wchar_t is 16 bits. Trimming and cutting
// work on the text in place; conversions copy it, since wchar_t and char16_t
// are distinct types even at the same size.
static_assert(sizeof(wchar_t) == sizeof(char16_t));

constexpr std::wstring_view Trim(std::wstring_view AText) noexcept
{
    return TextDetail::TrimRight(TextDetail::TrimLeft(AText));
}
constexpr std::wstring_view CutUtf16(std::wstring_view AText, size_t AMaxUnits) noexcept
{
    return TextDetail::CutUtf16(AText, AMaxUnits);
}
inline std::wstring ToWide(std::u16string_view AText)
{
    return std::wstring(AText.begin(), AText.end());
}
inline std::u16string ToUtf16(std::wstring_view AText)
{
    return std::u16string(AText.begin(), AText.end());
}
inline std::wstring Utf8ToWide(std::string_view ABytes)
{
    return ToWide(Utf8ToUtf16(ABytes));
}
inline std::string WideToUtf8(std::wstring_view AText)
{
    return Utf16ToUtf8(ToUtf16(AText));
}
#endif

} // namespace fw
