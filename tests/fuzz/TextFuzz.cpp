// libFuzzer target for the text unit. The input is read twice: as UTF-8
// bytes, and as UTF-16 units (byte pairs, low byte first).
//  - Strict decoding succeeds exactly where no invalid byte is found, then
//    agrees with lenient decoding and encodes back to the same bytes.
//  - Where it fails, lenient decoding reads the valid prefix the same way and
//    puts U+FFFD at the first invalid byte.
//  - Lenient decoding and encoding always give well-formed results.
//  - Encoding keeps pairs and units, replacing only unpaired surrogates.
//  - Trimming and cutting give a piece of the text whose removed parts are
//    blank, and never split a pair.
#include "framework/Text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

using namespace fw;

namespace {

void Check(bool ACondition, const char* AWhat)
{
    if (ACondition) return;
    std::fprintf(stderr, "text_fuzz: %s\n", AWhat);
    std::abort();
}

bool AllBlank(std::u16string_view AText)
{
    for (char16_t c : AText)
        if (!IsBlank(c)) return false;
    return true;
}

void CheckBytes(std::string_view ABytes)
{
    const size_t invalidAt = FindInvalidUtf8(ABytes);
    const std::optional<std::u16string> strict = Utf8ToUtf16Strict(ABytes);
    const std::u16string lenient = Utf8ToUtf16(ABytes);
    Check(strict.has_value() == (invalidAt == std::string_view::npos), "strict decoding and the search disagree");
    Check(IsWellFormedUtf16(lenient), "lenient decoding made an unpaired surrogate");
    Check(Utf8ToUtf16Strict(Utf16ToUtf8(lenient)) == lenient, "lenient text did not survive encoding");
    if (strict) {
        Check(*strict == lenient, "lenient decoding differs on well-formed bytes");
        Check(Utf16ToUtf8(*strict) == ABytes, "well-formed bytes did not encode back to themselves");
        return;
    }
    Check(invalidAt < ABytes.size(), "invalid offset out of range");
    const std::optional<std::u16string> prefix = Utf8ToUtf16Strict(ABytes.substr(0, invalidAt));
    Check(prefix.has_value(), "the bytes before the first invalid one are not well-formed");
    Check(lenient.size() > prefix->size() && lenient.compare(0, prefix->size(), *prefix) == 0 &&
              lenient[prefix->size()] == KReplacementCharacter,
          "lenient decoding does not replace the first invalid byte");
}

void CheckUnits(std::u16string_view AText, size_t ACut)
{
    const std::string bytes = Utf16ToUtf8(AText);
    Check(FindInvalidUtf8(bytes) == std::string_view::npos, "encoding made invalid UTF-8");
    const std::u16string back = Utf8ToUtf16(bytes);
    Check(back.size() == AText.size(), "encoding changed the number of units");
    for (size_t i = 0; i < AText.size(); ++i)
        Check(back[i] == AText[i] || (IsSurrogate(AText[i]) && back[i] == KReplacementCharacter),
              "encoding changed a unit other than an unpaired surrogate");
    Check((back == AText) == IsWellFormedUtf16(AText), "round trip and well-formedness disagree");

    const std::u16string_view trimmed = Trim(AText);
    const size_t start = trimmed.empty() ? AText.size() : static_cast<size_t>(trimmed.data() - AText.data());
    Check(trimmed.empty() || (!IsBlank(trimmed.front()) && !IsBlank(trimmed.back())), "blank left at an end");
    Check(AllBlank(AText.substr(0, start)) && AllBlank(AText.substr(start + trimmed.size())),
          "trimming removed more than blanks");

    const std::u16string_view cut = CutUtf16(AText, ACut);
    Check(cut.data() == AText.data() && cut.size() <= ACut && cut.size() + 1 >= std::min(ACut, AText.size()),
          "cut to the wrong length");
    Check(cut.size() == AText.size() || cut.empty() || !IsHighSurrogate(cut.back()) ||
              !IsLowSurrogate(AText[cut.size()]),
          "cut inside a surrogate pair");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    const std::string_view bytes(reinterpret_cast<const char*>(AData), ASize);
    CheckBytes(bytes);
    std::u16string units(ASize / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i) units[i] = static_cast<char16_t>(AData[2 * i] | (AData[2 * i + 1] << 8));
    CheckUnits(units, ASize == 0 ? 0 : AData[0] % (units.size() + 2));
    return 0;
}
