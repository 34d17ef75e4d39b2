#include "settings/IniDocument.h"

#include <stdexcept>
#include <utility>

namespace settings {

namespace {

// Control characters and the space: what the file format treats as blank.
bool IsBlank(char16_t AChar) noexcept { return AChar <= u' '; }

std::u16string_view TrimLeft(std::u16string_view AText) noexcept
{
    size_t start = 0;
    while (start < AText.size() && IsBlank(AText[start])) ++start;
    return AText.substr(start);
}

std::u16string_view TrimRight(std::u16string_view AText) noexcept
{
    size_t end = AText.size();
    while (end > 0 && IsBlank(AText[end - 1])) --end;
    return AText.substr(0, end);
}

std::u16string_view Trim(std::u16string_view AText) noexcept { return TrimRight(TrimLeft(AText)); }

bool IsHighSurrogate(char16_t AChar) noexcept { return AChar >= 0xD800 && AChar <= 0xDBFF; }
bool IsLowSurrogate(char16_t AChar) noexcept { return AChar >= 0xDC00 && AChar <= 0xDFFF; }

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

// Strict UTF-8: shortest forms only, no encoded surrogates, nothing above
// U+10FFFF, no truncated sequences. AOrigin is added to reported offsets.
std::u16string DecodeUtf8(std::string_view ABytes, size_t AOrigin)
{
    std::u16string out;
    out.reserve(ABytes.size());
    size_t i = 0;
    const size_t n = ABytes.size();
    auto byteAt = [&](size_t AIndex) { return static_cast<unsigned char>(ABytes[AIndex]); };
    while (i < n) {
        const unsigned char lead = byteAt(i);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        size_t length;
        char32_t code;
        // The bounds of the second byte exclude overlongs (E0, F0), encoded
        // surrogates (ED) and code points above U+10FFFF (F4).
        unsigned char low = 0x80, high = 0xBF;
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
            throw EIniEncodingError(AOrigin + i);
        }
        if (n - i < length) throw EIniEncodingError(AOrigin + i);
        for (size_t k = 1; k < length; ++k) {
            const unsigned char next = byteAt(i + k);
            if (next < low || next > high) throw EIniEncodingError(AOrigin + i);
            low = 0x80;
            high = 0xBF;
            code = (code << 6) | (next & 0x3F);
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
        if (IsHighSurrogate(AText[i]) && i + 1 < AText.size() && IsLowSurrogate(AText[i + 1])) {
            code = 0x10000 + ((code - 0xD800) << 10) + (AText[i + 1] - 0xDC00);
            ++i;
        } else if (IsHighSurrogate(AText[i]) || IsLowSurrogate(AText[i])) {
            // Unreachable: decoded text is well formed and written names are
            // checked. Kept total so a bug cannot emit invalid UTF-8.
            code = 0xFFFD;
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

// The part of a stored line that names it: the key of an entry, the whole
// text of a valueless line.
std::u16string_view LineName(std::u16string_view ALine) noexcept
{
    return ALine.substr(0, ALine.find(u'='));
}

// A name written into the file must parse back as itself, or the next load
// would see a different key, a comment, or a broken line.
void CheckName(std::u16string_view AName, bool AIsKey, const char* AWhat)
{
    auto fail = [&] { throw std::invalid_argument(std::string("ini: unusable ") + AWhat); };
    if (!AName.empty() && (IsBlank(AName.front()) || IsBlank(AName.back()))) fail();
    if (AIsKey && !AName.empty() && AName.front() == u';') fail();
    for (size_t i = 0; i < AName.size(); ++i) {
        const char16_t c = AName[i];
        if (c == u'\r' || c == u'\n' || (AIsKey && c == u'=')) fail();
        if (IsHighSurrogate(c)) {
            if (i + 1 == AName.size() || !IsLowSurrogate(AName[i + 1])) fail();
            ++i;
        } else if (IsLowSurrogate(c)) {
            fail();
        }
    }
}

int HexDigit(char16_t AChar) noexcept
{
    if (AChar >= u'0' && AChar <= u'9') return AChar - u'0';
    if (AChar >= u'a' && AChar <= u'f') return AChar - u'a' + 10;
    if (AChar >= u'A' && AChar <= u'F') return AChar - u'A' + 10;
    return -1;
}

} // namespace

const char* EIniEncodingError::what() const noexcept
{
    return "settings file is not valid UTF-8";
}

std::optional<int32_t> TryStrToInt(std::u16string_view AText)
{
    size_t i = 0;
    const size_t n = AText.size();
    while (i < n && IsBlank(AText[i])) ++i;
    bool negative = false;
    if (i < n && (AText[i] == u'+' || AText[i] == u'-')) {
        negative = AText[i] == u'-';
        ++i;
    }
    bool hex = false;
    if (i < n && (AText[i] == u'$' || AText[i] == u'x' || AText[i] == u'X')) {
        hex = true;
        i += 1;
    } else if (i + 1 < n && AText[i] == u'0' && (AText[i + 1] == u'x' || AText[i + 1] == u'X')) {
        hex = true;
        i += 2;
    }
    if (i == n) return std::nullopt;

    const uint64_t limit = hex ? 0xFFFFFFFFu : (negative ? 0x80000000u : 0x7FFFFFFFu);
    const uint64_t base = hex ? 16 : 10;
    uint64_t magnitude = 0;
    for (; i < n; ++i) {
        const int digit = HexDigit(AText[i]);
        if (digit < 0 || static_cast<uint64_t>(digit) >= base) return std::nullopt;
        magnitude = magnitude * base + static_cast<uint64_t>(digit);
        if (magnitude > limit) return std::nullopt;
    }
    // Modular in 32 bits: for hexadecimal this reinterprets the pattern and
    // negates it; for decimal the range check above keeps it exact.
    uint32_t bits = static_cast<uint32_t>(magnitude);
    if (negative) bits = 0u - bits;
    return static_cast<int32_t>(bits);
}

TIniDocument::TIniDocument(TUpper AUpper) : FUpper(std::move(AUpper)) {}

TIniDocument TIniDocument::Parse(std::string_view ABytes, TUpper AUpper)
{
    TIniDocument document(std::move(AUpper));
    size_t origin = 0;
    if (ABytes.size() >= 3 && ABytes.substr(0, 3) == "\xEF\xBB\xBF") origin = 3;
    const std::u16string text = DecodeUtf8(ABytes.substr(origin), origin);

    // NotFound until the first header, and inside a duplicate block.
    size_t current = NotFound;
    auto takeLine = [&](std::u16string_view ARaw) {
        const std::u16string_view line = Trim(ARaw);
        if (line.empty() || line.front() == u';') return;
        if (line.size() >= 2 && line.front() == u'[' && line.back() == u']') {
            const std::u16string_view name = Trim(line.substr(1, line.size() - 2));
            auto [slot, added] = document.FIndex.try_emplace(document.FUpper(name), document.FSections.size());
            if (added) {
                document.FSections.push_back(TSection{std::u16string(name), {}});
                current = slot->second;
            } else {
                current = NotFound;
            }
            return;
        }
        if (current == NotFound) return;
        std::u16string stored;
        const size_t equals = line.find(u'=');
        if (equals == std::u16string_view::npos) {
            stored = line;
        } else {
            stored = TrimRight(line.substr(0, equals));
            stored += u'=';
            stored += TrimLeft(line.substr(equals + 1));
        }
        document.FSections[current].Lines.push_back(std::move(stored));
    };

    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != u'\r' && text[i] != u'\n') continue;
        takeLine(std::u16string_view(text).substr(start, i - start));
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    takeLine(std::u16string_view(text).substr(start));
    return document;
}

size_t TIniDocument::FindSection(std::u16string_view AName) const
{
    const auto found = FIndex.find(FUpper(AName));
    return found == FIndex.end() ? NotFound : found->second;
}

size_t TIniDocument::FindLine(const TSection& ASection, std::u16string_view AKey) const
{
    const std::u16string folded = FUpper(AKey);
    for (size_t i = 0; i < ASection.Lines.size(); ++i)
        if (FUpper(LineName(ASection.Lines[i])) == folded) return i;
    return NotFound;
}

bool TIniDocument::ReadBool(std::u16string_view ASection, std::u16string_view AKey, bool ADefault) const
{
    const size_t section = FindSection(ASection);
    if (section == NotFound) return ADefault;
    const size_t line = FindLine(FSections[section], AKey);
    if (line == NotFound) return ADefault;
    const std::u16string_view stored = FSections[section].Lines[line];
    const size_t equals = stored.find(u'=');
    if (equals == std::u16string_view::npos) return ADefault;

    std::u16string value(stored.substr(equals + 1));
    if (value.size() > 2 && value[0] == u'0' && (value[1] == u'x' || value[1] == u'X'))
        value.replace(0, 2, u"$");
    const std::optional<int32_t> number = TryStrToInt(value);
    return number ? *number != 0 : ADefault;
}

void TIniDocument::WriteBool(std::u16string_view ASection, std::u16string_view AKey, bool AValue)
{
    CheckName(ASection, false, "section name");
    CheckName(AKey, true, "key");
    size_t section = FindSection(ASection);
    if (section == NotFound) {
        section = FSections.size();
        FIndex.emplace(FUpper(ASection), section);
        FSections.push_back(TSection{std::u16string(ASection), {}});
    }
    std::vector<std::u16string>& lines = FSections[section].Lines;
    const char16_t* text = AValue ? u"1" : u"0";
    const size_t line = FindLine(FSections[section], AKey);
    if (line == NotFound) {
        lines.push_back(std::u16string(AKey) + u'=' + text);
    } else {
        // Keeps the key as the file spelled it.
        lines[line] = std::u16string(LineName(lines[line])) + u'=' + text;
    }
}

std::string TIniDocument::Serialize() const
{
    std::string out = "\xEF\xBB\xBF";
    for (const TSection& section : FSections) {
        out += '[';
        AppendUtf8(out, section.Name);
        out += "]\r\n";
        for (const std::u16string& line : section.Lines) {
            AppendUtf8(out, line);
            out += "\r\n";
        }
        out += "\r\n";
    }
    return out;
}

} // namespace settings
