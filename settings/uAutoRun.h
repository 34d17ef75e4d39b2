#pragma once
// Start at logon: a value in the current user's Run key naming this
// executable, in quotes, and not switched off in Task Manager or Settings
// (their StartupApproved mark of the same name). Plain functions: each call
// opens the keys, works, closes them.
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

// True when the value AName names this executable (letter case aside; bare or
// in quotes) and is not switched off. Raises ERegistryException for a value
// that is not a string, before anything else is looked at.
bool IsAutoRun(const std::wstring& AName, size_t APathBufferUnits = KPathBufferUnits);
// Writes this executable's path in quotes under AName and switches a value
// that was switched off on again; answers IsAutoRun afterwards, false on any
// error, and when the path does not fit (nothing written).
bool RegisterAutoRun(const std::wstring& AName, size_t APathBufferUnits = KPathBufferUnits);
// Deletes the value AName whatever it holds; answers the negation of
// IsAutoRun afterwards, false on any error.
bool UnregisterAutoRun(const std::wstring& AName);

} // namespace uAutoRun
