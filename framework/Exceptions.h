#pragma once
// The exception classes the program raises. Each carries its message, the
// class name shown by the last-chance box, and the code address it was raised at.
#include <exception>
#include <string>

namespace fw {

class Exception : public std::exception {
public:
    explicit Exception(std::wstring AMessage);
    const std::wstring& Message() const noexcept { return FMessage; }
    virtual const wchar_t* ClassName() const noexcept { return L"Exception"; }
    void* Address() const noexcept { return FAddress; }
    const char* what() const noexcept override { return FNarrow.c_str(); }

protected:
    // For a routine that raises on its caller's behalf: AAddress is the caller's.
    Exception(std::wstring AMessage, void* AAddress);

private:
    std::wstring FMessage;
    std::string FNarrow;
    void* FAddress = nullptr;
};

// The silent abort: unwinds without any message.
class EAbort : public Exception {
public:
    using Exception::Exception;
    const wchar_t* ClassName() const noexcept override { return L"EAbort"; }
};

// An error of the operating system, with its message text and, when raised
// through RaiseOSError or RaiseLastOSError, its code.
class EOSError : public Exception {
public:
    using Exception::Exception;
    EOSError(unsigned long ACode, void* AAddress);
    const wchar_t* ClassName() const noexcept override { return L"EOSError"; }
    unsigned long ErrorCode() const noexcept { return FErrorCode; }

private:
    unsigned long FErrorCode = 0;
};

// Raise EOSError for ACode, or for the calling thread's last error, with the
// system's text for it; the error is reported at the caller's address.
[[noreturn]] void RaiseOSError(unsigned long ACode);
[[noreturn]] void RaiseLastOSError();

// What the box shows for an exception: the innermost non-empty message of a
// nested chain. Non-framework exceptions give their what() text.
std::wstring ExceptionMessage(const std::exception_ptr& AError);
// Class name and raising address, for the last-chance and runtime-error boxes.
std::wstring ExceptionClassName(const std::exception_ptr& AError);
void* ExceptionAddress(const std::exception_ptr& AError);
bool IsAbort(const std::exception_ptr& AError);

// The system's message text for an error code, without its trailing line end.
std::wstring SysErrorMessage(unsigned long ACode);

} // namespace fw
