#pragma once
// The boxes that report a failure: the texts of the three (an exception in
// a message handler, the last-chance box, the run-time's error box for a
// failed unit initialisation) and the two shown without an application window.
#include <exception>
#include <string>

namespace fw {

// The exception's innermost message, with a full stop added unless it ends
// in a character at or below ".".
std::wstring ExceptionBoxText(const std::exception_ptr& AError);
std::wstring LastChanceBoxText(const std::exception_ptr& AError);
std::wstring RuntimeErrorBoxText(int ACode, const void* AAddress);

// Shows the last-chance box for AError (task-modal, OK, stop icon).
void ShowLastChanceBox(const std::exception_ptr& AError);
// Shows the run-time's error box for an exception in unit initialisation.
void ShowRuntimeErrorBox(int ACode, const void* AAddress);

} // namespace fw
