// The theme file's text format (described in Styles.h): the magic line, the
// name and one colour per key.
#include "framework/Styles.h"

#include <algorithm>
#include <array>

#include "framework/Text.h"

namespace fw {

namespace {

constexpr std::array<std::u16string_view, static_cast<size_t>(TStyleColor::Count)> KStyleColorKeys = {
    u"Window",        u"WindowText",        u"MenuBackground",   u"MenuText",
    u"MenuHighlight", u"MenuHighlightText", u"MenuDisabledText", u"MenuSeparator",
    u"MenuCheck",     u"ButtonFace",        u"ButtonText",       u"ButtonHover",
    u"Border"};

std::optional<COLORREF> ParseColor(std::u16string_view s)
{
    if (s.size() != 7 || s[0] != u'#') return std::nullopt;
    unsigned v = 0;
    for (char16_t c : s.substr(1)) {
        int d = HexDigitValue(c);
        if (d < 0) return std::nullopt;
        v = v * 16 + static_cast<unsigned>(d);
    }
    return RGB((v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

// One "Key=value" line into AStyle: the name, or a colour marked in ASeen.
// False for a line that is neither.
bool ReadStyleLine(std::u16string_view ALine, TStyle& AStyle, std::array<bool, KStyleColorKeys.size()>& ASeen,
                   bool& ANamed)
{
    const size_t eq = ALine.find(u'=');
    if (eq == std::u16string_view::npos) return false;
    const std::u16string_view key = Trim(ALine.substr(0, eq));
    const std::u16string_view value = Trim(ALine.substr(eq + 1));
    if (key == u"Name") {
        if (value.empty()) return false;
        AStyle.Name = ToWide(value);
        ANamed = true;
        return true;
    }
    const auto* at = std::ranges::find(KStyleColorKeys, key);
    if (at == KStyleColorKeys.end()) return false;
    const auto color = ParseColor(value);
    if (!color) return false;
    const auto i = static_cast<size_t>(at - KStyleColorKeys.begin());
    AStyle.Colors[i] = *color;
    ASeen[i] = true;
    return true;
}

} // namespace

std::optional<TStyle> ParseStyle(std::string_view AText)
{
    if (AText.size() >= 3 && AText.substr(0, 3) == "\xEF\xBB\xBF") AText.remove_prefix(3);
    // Read leniently: a damaged byte can only keep a line from matching, or
    // show in the name.
    const std::u16string text = Utf8ToUtf16(AText);
    std::u16string_view rest = text;
    TStyle style;
    bool magic = false;
    bool named = false;
    std::array<bool, KStyleColorKeys.size()> seen{};
    while (!rest.empty()) {
        size_t end = rest.find_first_of(u"\r\n");
        std::u16string_view line = Trim(rest.substr(0, end));
        rest.remove_prefix(end == std::u16string_view::npos ? rest.size() : end + 1);
        if (line.empty() || line[0] == u';') continue;
        if (!magic) {
            if (line != u"FWSTYLE 1") return std::nullopt;
            magic = true;
            continue;
        }
        if (!ReadStyleLine(line, style, seen, named)) return std::nullopt;
    }
    const bool allColors = std::ranges::all_of(seen, [](bool s) { return s; });
    if (!magic || !named || !allColors) return std::nullopt;
    return style;
}

} // namespace fw
