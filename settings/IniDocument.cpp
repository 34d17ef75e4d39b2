#include "settings/IniDocument.h"

#include <stdexcept>
#include <utility>

#include "framework/Text.h"

namespace settings {

namespace {

using fw::IsBlank;
using fw::Trim;
using fw::TrimLeft;
using fw::TrimRight;

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
    for (const char16_t c : AName)
        if (c == u'\r' || c == u'\n' || (AIsKey && c == u'=')) fail();
    if (!fw::IsWellFormedUtf16(AName)) fail();
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
        const int digit = fw::HexDigitValue(AText[i]);
        if (digit < 0 || static_cast<uint64_t>(digit) >= base) return std::nullopt;
        magnitude = magnitude * base + static_cast<uint64_t>(digit);
        if (magnitude > limit) return std::nullopt;
    }
    // Modular in 32 bits: for hexadecimal this reinterprets the pattern and
    // negates it; for decimal the range check above keeps it exact.
    auto bits = static_cast<uint32_t>(magnitude);
    if (negative) bits = 0u - bits;
    return static_cast<int32_t>(bits);
}

TIniDocument::TIniDocument(TUpper AUpper) : FUpper(std::move(AUpper)) {}

TIniDocument TIniDocument::Parse(std::string_view ABytes, TUpper AUpper)
{
    TIniDocument document(std::move(AUpper));
    size_t origin = 0;
    if (ABytes.size() >= 3 && ABytes.substr(0, 3) == "\xEF\xBB\xBF") origin = 3;
    const std::string_view body = ABytes.substr(origin);
    const std::optional<std::u16string> decoded = fw::Utf8ToUtf16Strict(body);
    if (!decoded) throw EIniEncodingError(origin + fw::FindInvalidUtf8(body));
    const std::u16string& text = *decoded;

    // NotFound until the first header, and inside a duplicate block.
    size_t current = NotFound;
    auto takeLine = [&](std::u16string_view ARaw) {
        const std::u16string_view line = Trim(ARaw);
        if (line.empty() || line.front() == u';') return;
        if (line.size() >= 2 && line.front() == u'[' && line.back() == u']') {
            const std::u16string_view name = Trim(line.substr(1, line.size() - 2));
            auto [slot, added] = document.FIndex.try_emplace(document.FUpper(name), document.FSections.size());
            if (added) {
                document.FSections.push_back(TSection{.Name = std::u16string(name), .Lines = {}});
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
    if (value.size() > 2 && value[0] == u'0' && (value[1] == u'x' || value[1] == u'X')) value.replace(0, 2, u"$");
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
        FSections.push_back(TSection{.Name = std::u16string(ASection), .Lines = {}});
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
        fw::AppendUtf8(out, section.Name);
        out += "]\r\n";
        for (const std::u16string& line : section.Lines) {
            fw::AppendUtf8(out, line);
            out += "\r\n";
        }
        out += "\r\n";
    }
    return out;
}

} // namespace settings
