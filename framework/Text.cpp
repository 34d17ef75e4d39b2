#include "framework/Text.h"

namespace fw {

namespace {

// The length of the well-formed UTF-8 sequence that starts at AAt, with its
// code point in ACode; 0 when none starts there.
size_t DecodeAt(std::string_view ABytes, size_t AAt, char32_t& ACode) noexcept
{
    auto byteAt = [&](size_t AIndex) { return static_cast<unsigned char>(ABytes[AIndex]); };
    const unsigned char lead = byteAt(AAt);
    if (lead < 0x80) {
        ACode = lead;
        return 1;
    }
    size_t length = 0;
    char32_t code = 0;
    // The bounds of the second byte exclude overlongs (E0, F0), encoded
    // surrogates (ED) and code points above U+10FFFF (F4).
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code = lead & 0x0F;
        if (lead == 0xE0) low = 0xA0;
        if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code = lead & 0x07;
        if (lead == 0xF0) low = 0x90;
        if (lead == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (ABytes.size() - AAt < length) return 0;
    for (size_t k = 1; k < length; ++k) {
        const unsigned char next = byteAt(AAt + k);
        if (next < low || next > high) return 0;
        low = 0x80;
        high = 0xBF;
        code = (code << 6) | (next & 0x3F);
    }
    ACode = code;
    return length;
}

void AppendUtf16(std::u16string& AOut, char32_t ACode)
{
    if (ACode < 0x10000) {
        AOut.push_back(static_cast<char16_t>(ACode));
    } else {
        ACode -= 0x10000;
        AOut.push_back(static_cast<char16_t>(0xD800 + (ACode >> 10)));
        AOut.push_back(static_cast<char16_t>(0xDC00 + (ACode & 0x3FF)));
    }
}

} // namespace

bool IsWellFormedUtf16(std::u16string_view AText) noexcept
{
    for (size_t i = 0; i < AText.size(); ++i) {
        if (IsHighSurrogate(AText[i]) && i + 1 < AText.size() && IsLowSurrogate(AText[i + 1]))
            ++i;
        else if (IsSurrogate(AText[i]))
            return false;
    }
    return true;
}

size_t FindInvalidUtf8(std::string_view ABytes) noexcept
{
    char32_t code = 0;
    for (size_t i = 0; i < ABytes.size();) {
        const size_t length = DecodeAt(ABytes, i, code);
        if (length == 0) return i;
        i += length;
    }
    return std::string_view::npos;
}

std::optional<std::u16string> Utf8ToUtf16Strict(std::string_view ABytes)
{
    std::u16string out;
    out.reserve(ABytes.size());
    char32_t code = 0;
    for (size_t i = 0; i < ABytes.size();) {
        const size_t length = DecodeAt(ABytes, i, code);
        if (length == 0) return std::nullopt;
        AppendUtf16(out, code);
        i += length;
    }
    return out;
}

std::u16string Utf8ToUtf16(std::string_view ABytes)
{
    std::u16string out;
    out.reserve(ABytes.size());
    char32_t code = 0;
    for (size_t i = 0; i < ABytes.size();) {
        size_t length = DecodeAt(ABytes, i, code);
        if (length == 0) {
            code = KReplacementCharacter;
            length = 1;
        }
        AppendUtf16(out, code);
        i += length;
    }
    return out;
}

void AppendUtf8(std::string& AOut, std::u16string_view AText)
{
    for (size_t i = 0; i < AText.size(); ++i) {
        char32_t code = AText[i];
        if (IsHighSurrogate(code) && i + 1 < AText.size() && IsLowSurrogate(AText[i + 1])) {
            code = 0x10000 + ((code - 0xD800) << 10) + (AText[i + 1] - 0xDC00u);
            ++i;
        } else if (IsSurrogate(code)) {
            code = KReplacementCharacter;
        }
        if (code < 0x80) {
            AOut.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            AOut.push_back(static_cast<char>(0xC0 | (code >> 6)));
            AOut.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            AOut.push_back(static_cast<char>(0xE0 | (code >> 12)));
            AOut.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            AOut.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            AOut.push_back(static_cast<char>(0xF0 | (code >> 18)));
            AOut.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            AOut.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            AOut.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
}

std::string Utf16ToUtf8(std::u16string_view AText)
{
    std::string out;
    out.reserve(AText.size());
    AppendUtf8(out, AText);
    return out;
}

} // namespace fw
