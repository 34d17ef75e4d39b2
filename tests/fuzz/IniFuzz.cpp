// libFuzzer target for the settings file: any bytes either fail as an
// encoding error or load into a document whose saving is stable, keeps what
// can be read, and stores what is written.
#include "settings/IniDocument.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

using settings::EIniEncodingError;
using settings::TIniDocument;

namespace {

std::u16string LatinUpper(std::u16string_view AText)
{
    std::u16string out(AText);
    for (char16_t& c : out)
        if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c = static_cast<char16_t>(c - 0x20);
    return out;
}

TIniDocument Load(std::string_view ABytes)
{
    return TIniDocument::Parse(ABytes, LatinUpper);
}

void Check(bool ACondition, const char* AWhat)
{
    if (ACondition) return;
    std::fprintf(stderr, "ini_fuzz: %s\n", AWhat);
    std::abort();
}

struct TName {
    std::u16string_view Section;
    std::u16string_view Key;
    bool Usable;
};

// Names the corpus and dictionary use, in other letter cases, and odd ones.
constexpr TName kNames[] = {
    {u"system", u"enable_notification", true},
    {u"SYSTEM", u"Enable_Notification", true},
    {u"s", u"k", true},
    {u"", u"", true},
    {u"a]", u"[k", true},
    {u"\u00E9t\u00E9", u"\u00C9", true},
    {u"\U0001F600", u"\U0001F600", true},
    {u"s", u"k=v", false},
    {u" s", u"k", false},
    {u"s", u";k", false},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    const std::string_view bytes(reinterpret_cast<const char*>(AData), ASize);
    std::optional<TIniDocument> document;
    try {
        document.emplace(Load(bytes));
    } catch (const EIniEncodingError&) {
        return 0;
    }

    // Saving drops only what cannot be read, and a saved file saves as itself.
    const std::string saved = document->Serialize();
    const TIniDocument reloaded = Load(saved);
    Check(reloaded.Serialize() == saved, "serialize -> parse -> serialize changed the bytes");
    Check(Load(reloaded.Serialize()).Serialize() == saved, "second round trip changed the bytes");
    for (const TName& name : kNames)
        for (bool fallback : {false, true})
            Check(reloaded.ReadBool(name.Section, name.Key, fallback) ==
                      document->ReadBool(name.Section, name.Key, fallback),
                  "a value read differently after saving");

    // Values chosen by the input, so both directions get exercised.
    unsigned bits = 0;
    for (size_t i = 0; i < ASize; ++i) bits = bits * 31 + AData[i];
    for (const TName& name : kNames) {
        const bool value = (bits & 1) != 0;
        bits = (bits >> 1) | (bits << 31);
        try {
            document->WriteBool(name.Section, name.Key, value);
        } catch (const std::invalid_argument&) {
            Check(!name.Usable, "a usable name was refused");
            continue;
        }
        Check(name.Usable, "an unusable name was written");
        Check(document->ReadBool(name.Section, name.Key, !value) == value, "ReadBool after WriteBool");
        const std::string written = document->Serialize();
        const TIniDocument again = Load(written);
        Check(again.ReadBool(name.Section, name.Key, !value) == value, "written value lost by saving");
        Check(again.Serialize() == written, "saving after a write is not stable");
    }
    return 0;
}
