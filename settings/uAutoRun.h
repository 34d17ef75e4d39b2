#pragma once
// Start at logon: a value in the current user's Run key naming this
// executable. Plain functions: each call opens the key, works, closes it.
#include <cstddef>
#include <string>

#include "framework/Exceptions.h"

namespace uAutoRun {

// A value of the name exists but is no string.
class ERegistryException : public fw::Exception {
public:
    using Exception::Exception;
    const wchar_t* ClassName() const noexcept override { return L"ERegistryException"; }
};

// The executable's path is read into a buffer of this many UTF-16 units, its
// NUL included. A longer path is never written (it would be cut, and start
// whatever file sits at the cut) and never matches. Tests pass a smaller one.
constexpr size_t KPathBufferUnits = 261;

// True when the value AName names this executable (letter case aside).
// Raises ERegistryException for a value that is not a string.
bool IsAutoRun(const std::wstring& AName, size_t APathBufferUnits = KPathBufferUnits);
// Writes this executable's path under AName; answers IsAutoRun afterwards,
// false on any error, and when the path does not fit (nothing written).
bool RegisterAutoRun(const std::wstring& AName, size_t APathBufferUnits = KPathBufferUnits);
// Deletes the value AName whatever it holds; answers the negation of
// IsAutoRun afterwards, false on any error.
bool UnregisterAutoRun(const std::wstring& AName);

} // namespace uAutoRun
