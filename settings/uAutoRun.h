#pragma once
// Start at logon: a value in the current user's Run key naming this
// executable, in quotes, and not switched off in Task Manager or Settings
// (their StartupApproved mark of the same name). Plain functions: each call
// opens the keys, works, closes them.
#include <string>

#include "framework/Exceptions.h"

namespace uAutoRun {

// A value of the name exists but is no string.
class ERegistryException : public fw::Exception {
public:
    using Exception::Exception;
    const wchar_t* ClassName() const noexcept override { return L"ERegistryException"; }
};

// The executable's path is read into a buffer of the services' PathBufferUnits
// (framework/Services.h), its NUL included. A longer path is never written (it
// would be cut, and start whatever file sits at the cut) and never matches.

// True when the value AName names this executable (letter case aside; bare or
// in quotes) and is not switched off. Raises ERegistryException for a value
// that is not a string, before anything else is looked at.
bool IsAutoRun(const std::wstring& AName);
// Writes this executable's path in quotes under AName and switches a value
// that was switched off on again; answers IsAutoRun afterwards, false on any
// error, and when the path does not fit (nothing written).
bool RegisterAutoRun(const std::wstring& AName);
// Deletes the value AName whatever it holds; answers the negation of
// IsAutoRun afterwards, false on any error.
bool UnregisterAutoRun(const std::wstring& AName);

} // namespace uAutoRun
