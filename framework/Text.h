#pragma once
// UTF-8 <-> UTF-16 conversion and shell-limited text. Platform-free.
#include <string>
#include <string_view>

namespace fw {

std::wstring Utf8ToWide(std::string_view AText);
std::string WideToUtf8(std::wstring_view AText);

// The first AMaxUnits UTF-16 units of AText, one fewer when the cut would
// separate a surrogate pair.
std::wstring_view CutUtf16(std::wstring_view AText, size_t AMaxUnits) noexcept;

} // namespace fw
