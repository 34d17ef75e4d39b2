#pragma once
// The settings file held in memory: named sections, each an ordered list of
// lines, where a line is either an entry "key=value" or a valueless line kept
// as it was read. Platform-free: the case folding used to compare section
// names and keys is passed in (the program wraps the system's upper-caser).
//
// Only what the program reads and writes is offered: booleans stored as
// integers. Lines the program does not know survive a save untouched, in
// order; comments, blank lines and duplicate sections do not.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace settings {

// Upper-cases UTF-16 text; both sides of a comparison go through it and are
// then compared unit for unit.
using TUpper = std::function<std::u16string(std::u16string_view)>;

// The file's bytes are not valid UTF-8 (after an optional EF BB BF mark).
class EIniEncodingError : public std::exception {
public:
    explicit EIniEncodingError(size_t AOffset) noexcept : FOffset(AOffset) {}
    const char* what() const noexcept override;
    // Byte offset of the first invalid sequence, counted from the file start.
    size_t Offset() const noexcept { return FOffset; }

private:
    size_t FOffset;
};

// Converts the whole text to a 32-bit signed integer, or nothing. Accepted:
// leading characters of code U+0020 or less, an optional "+" or "-", then
// decimal digits, or hexadecimal digits after "$", "x", "X", "0x" or "0X".
// At least one digit; nothing may follow. Decimal must lie in
// [-2147483648, 2147483647]. Hexadecimal is a 32-bit pattern (at most
// FFFFFFFF, so $FFFFFFFF is -1 and $80000000 is -2147483648); a "-" negates
// that pattern in 32 bits.
std::optional<int32_t> TryStrToInt(std::u16string_view AText);

class TIniDocument {
public:
    // An empty document, as for a missing file.
    explicit TIniDocument(TUpper AUpper);

    // Throws EIniEncodingError when ABytes is not valid UTF-8.
    static TIniDocument Parse(std::string_view ABytes, TUpper AUpper);

    // The integer value of the first line named AKey in ASection, zero being
    // false; ADefault when the section or key is missing, the line has no
    // value, or the value is not an integer.
    bool ReadBool(std::u16string_view ASection, std::u16string_view AKey, bool ADefault) const;

    // Stores "1" or "0" under AKey, creating the section or entry as needed.
    // Throws std::invalid_argument for a name that would not read back as
    // itself (line breaks, blanks at either end, "=" or a leading ";" in a
    // key, unpaired surrogates).
    void WriteBool(std::u16string_view ASection, std::u16string_view AKey, bool AValue);

    // The whole file: UTF-8 with EF BB BF, CR LF line ends.
    std::string Serialize() const;

private:
    struct TSection {
        std::u16string Name;
        std::vector<std::u16string> Lines;
    };

    static constexpr size_t NotFound = static_cast<size_t>(-1);

    size_t FindSection(std::u16string_view AName) const;
    // Index of the first line named AKey, entry or valueless; NotFound if none.
    size_t FindLine(const TSection& ASection, std::u16string_view AKey) const;

    TUpper FUpper;
    std::vector<TSection> FSections;
    // Folded section name -> index in FSections.
    std::unordered_map<std::u16string, size_t> FIndex;
};

} // namespace settings
