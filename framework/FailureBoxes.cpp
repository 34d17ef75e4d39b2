#include "framework/FailureBoxes.h"

#include <windows.h>

#include <cstdint>

#include "framework/Exceptions.h"
#include "framework/Modules.h"

namespace fw {

namespace {

std::wstring HexAddress(const void* AAddress)
{
    // Sixteen upper-case hexadecimal digits, leading zeros kept.
    auto value = static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(AAddress));
    std::wstring text(16, L'0');
    for (size_t i = text.size(); i-- > 0; value >>= 4) text[i] = L"0123456789ABCDEF"[value & 0xF];
    return text;
}

} // namespace

std::wstring ExceptionBoxText(const std::exception_ptr& AError)
{
    std::wstring text = ExceptionMessage(AError);
    if (!text.empty() && text.back() > L'.') text += L'.';
    return text;
}

std::wstring LastChanceBoxText(const std::exception_ptr& AError)
{
    void* address = ExceptionAddress(AError);
    HMODULE module = nullptr;
    if (!address ||
        !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCWSTR>(address), &module))
        module = nullptr;
    std::wstring message = ExceptionMessage(AError);
    std::wstring text = ExceptionClassName(AError);
    text += L" がモジュール ";
    text += FileNameOf(ModuleFileName(module));
    text += L" の ";
    text += HexAddress(address);
    text += L" で発生しました。\r\n";
    text += message;
    if (message.empty() || message.back() != L'.') text += L'.';
    text += L"\r\n";
    return text;
}

std::wstring RuntimeErrorBoxText(int ACode, const void* AAddress)
{
    return L"Runtime error " + std::to_wstring(ACode) + L" at " + HexAddress(AAddress);
}

void ShowLastChanceBox(const std::exception_ptr& AError)
{
    MessageBoxW(nullptr, LastChanceBoxText(AError).c_str(), L"アプリケーションエラー",
                MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

void ShowRuntimeErrorBox(int ACode, const void* AAddress)
{
    MessageBoxW(nullptr, RuntimeErrorBoxText(ACode, AAddress).c_str(), L"Error", MB_OK | MB_TASKMODAL);
}

} // namespace fw
