#pragma once
// The locale the program came up in, kept for comparisons that follow the
// user's language, however the thread's locale changes later.
#include <windows.h>

namespace fw {

// Reads the thread locale; the framework's unit initialisation calls it first.
void ReadStartupLocale() noexcept;
// The locale read then: US English when the system gave none, or before it was read.
LCID StartupLocale() noexcept;

} // namespace fw
