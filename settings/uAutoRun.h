#pragma once
// Start at logon: a value in the current user's Run key naming this
// executable. Plain functions: each call opens the key, works, closes it.
#include <string>

#include "framework/Exceptions.h"

namespace uAutoRun {

// A value of the name exists but is no string.
class ERegistryException : public fw::Exception {
public:
    using Exception::Exception;
    const wchar_t* ClassName() const noexcept override { return L"ERegistryException"; }
};

// True when the value AName names this executable (letter case aside).
// Raises ERegistryException for a value that is not a string.
bool IsAutoRun(const std::wstring& AName);
// Writes this executable's path under AName; answers IsAutoRun afterwards,
// false on any error.
bool RegisterAutoRun(const std::wstring& AName);
// Deletes the value AName whatever it holds; answers the negation of
// IsAutoRun afterwards, false on any error.
bool UnregisterAutoRun(const std::wstring& AName);

} // namespace uAutoRun
