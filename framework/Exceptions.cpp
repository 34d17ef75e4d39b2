#include "framework/Exceptions.h"

#include <windows.h>

#include "framework/Text.h"

namespace fw {

namespace {

void* CallerAddress() noexcept
{
    // Frame 0 is this function, 1 the Exception constructor, 2 the raiser
    // (or a derived constructor inlined into it).
    void* frames[3] = {};
    USHORT n = CaptureStackBackTrace(0, 3, frames, nullptr);
    return n > 0 ? frames[n - 1] : nullptr;
}

// Walks a nested chain; each level that has a message replaces the outer one.
void InnermostMessage(const std::exception_ptr& AError, std::wstring& AResult)
{
    try {
        std::rethrow_exception(AError);
    } catch (const std::exception& e) {
        std::wstring message;
        if (const auto* own = dynamic_cast<const Exception*>(&e))
            message = own->Message();
        else
            message = Utf8ToWide(e.what());
        if (!message.empty()) AResult = message;
        try {
            std::rethrow_if_nested(e);
        } catch (...) {
            InnermostMessage(std::current_exception(), AResult);
        }
    } catch (...) { // NOLINT(bugprone-empty-catch): a thrown value that is no std::exception has no message
    }
}

} // namespace

Exception::Exception(std::wstring AMessage) : Exception(std::move(AMessage), CallerAddress()) {}

Exception::Exception(std::wstring AMessage, void* AAddress)
    : FMessage(std::move(AMessage)), FNarrow(WideToUtf8(FMessage)), FAddress(AAddress)
{
}

EOSError::EOSError(unsigned long ACode, void* AAddress) : Exception(SysErrorMessage(ACode), AAddress), FErrorCode(ACode)
{
}

// Each raiser names its own caller: frame 0 is the raiser itself. Neither
// calls the other, so no frame of ours can come between.
void RaiseOSError(unsigned long ACode)
{
    void* caller = nullptr;
    CaptureStackBackTrace(1, 1, &caller, nullptr);
    throw EOSError(ACode, caller);
}

void RaiseLastOSError()
{
    const DWORD code = GetLastError();
    void* caller = nullptr;
    CaptureStackBackTrace(1, 1, &caller, nullptr);
    throw EOSError(code, caller);
}

std::wstring ExceptionMessage(const std::exception_ptr& AError)
{
    std::wstring result;
    InnermostMessage(AError, result);
    return result;
}

std::wstring ExceptionClassName(const std::exception_ptr& AError)
{
    try {
        std::rethrow_exception(AError);
    } catch (const Exception& e) {
        return e.ClassName();
    } catch (const std::bad_alloc&) {
        return L"EOutOfMemory";
    } catch (...) {
        return L"Exception";
    }
}

void* ExceptionAddress(const std::exception_ptr& AError)
{
    try {
        std::rethrow_exception(AError);
    } catch (const Exception& e) {
        return e.Address();
    } catch (...) {
        return nullptr;
    }
}

bool IsAbort(const std::exception_ptr& AError)
{
    try {
        std::rethrow_exception(AError);
    } catch (const EAbort&) {
        return true;
    } catch (...) {
        return false;
    }
}

std::wstring SysErrorMessage(unsigned long ACode)
{
    wchar_t* buffer = nullptr;
    DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                             nullptr, ACode, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text(buffer ? buffer : L"", n);
    LocalFree(buffer);
    while (!text.empty() && (text.back() == L' ' || text.back() == L'\r' || text.back() == L'\n')) text.pop_back();
    return text;
}

} // namespace fw
