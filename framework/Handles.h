#pragma once
// Move-only owners for Win32 handles and COM interface pointers. Closing keeps
// GetLastError intact so an owner going out of scope never hides the error
// its caller is about to read.
#include <windows.h>

#include <utility>

namespace fw {

template <typename T, typename Traits>
class TUniqueHandle {
public:
    TUniqueHandle() noexcept = default;
    explicit TUniqueHandle(T AValue) noexcept : FValue(AValue) {}
    ~TUniqueHandle() { Reset(); }

    TUniqueHandle(TUniqueHandle&& AOther) noexcept : FValue(AOther.Release()) {}
    TUniqueHandle& operator=(TUniqueHandle&& AOther) noexcept
    {
        if (this != &AOther) Reset(AOther.Release());
        return *this;
    }
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;

    T Get() const noexcept { return FValue; }
    explicit operator bool() const noexcept { return Traits::IsValid(FValue); }

    T Release() noexcept { return std::exchange(FValue, Traits::Invalid()); }

    void Reset(T AValue = Traits::Invalid()) noexcept
    {
        T old = std::exchange(FValue, AValue);
        if (Traits::IsValid(old)) {
            DWORD error = GetLastError();
            Traits::Close(old);
            SetLastError(error);
        }
    }

    // For out-parameters: frees the current value first.
    T* Put() noexcept
    {
        Reset();
        return &FValue;
    }

private:
    T FValue = Traits::Invalid();
};

template <typename T, auto CloseFn>
struct TNullTraits {
    static T Invalid() noexcept { return nullptr; }
    static bool IsValid(T AValue) noexcept { return AValue != nullptr; }
    static void Close(T AValue) noexcept { CloseFn(AValue); }
};

struct TFileTraits {
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static bool IsValid(HANDLE AValue) noexcept { return AValue != INVALID_HANDLE_VALUE && AValue != nullptr; }
    static void Close(HANDLE AValue) noexcept { CloseHandle(AValue); }
};

inline void CloseKernelHandle(HANDLE AValue) noexcept
{
    CloseHandle(AValue);
}
inline void CloseRegKey(HKEY AValue) noexcept
{
    RegCloseKey(AValue);
}
inline void DestroyMenuHandle(HMENU AValue) noexcept
{
    DestroyMenu(AValue);
}
inline void DestroyIconHandle(HICON AValue) noexcept
{
    DestroyIcon(AValue);
}
inline void DestroyWindowHandle(HWND AValue) noexcept
{
    DestroyWindow(AValue);
}
inline void DeleteGdiObject(HGDIOBJ AValue) noexcept
{
    DeleteObject(AValue);
}
inline void FreeModuleHandle(HMODULE AValue) noexcept
{
    FreeLibrary(AValue);
}
inline void DeleteMemoryDC(HDC AValue) noexcept
{
    DeleteDC(AValue);
}
inline void UnhookHook(HHOOK AValue) noexcept
{
    UnhookWindowsHookEx(AValue);
}

using TKernelHandle = TUniqueHandle<HANDLE, TNullTraits<HANDLE, CloseKernelHandle>>;
using TFileHandle = TUniqueHandle<HANDLE, TFileTraits>;
using TRegKey = TUniqueHandle<HKEY, TNullTraits<HKEY, CloseRegKey>>;
using TMenuHandle = TUniqueHandle<HMENU, TNullTraits<HMENU, DestroyMenuHandle>>;
using TIconHandle = TUniqueHandle<HICON, TNullTraits<HICON, DestroyIconHandle>>;
using TWindowHandle = TUniqueHandle<HWND, TNullTraits<HWND, DestroyWindowHandle>>;
using TModuleHandle = TUniqueHandle<HMODULE, TNullTraits<HMODULE, FreeModuleHandle>>;
// A DC from CreateCompatibleDC.
using TMemoryDC = TUniqueHandle<HDC, TNullTraits<HDC, DeleteMemoryDC>>;
// A hook from SetWindowsHookExW.
using THookHandle = TUniqueHandle<HHOOK, TNullTraits<HHOOK, UnhookHook>>;

template <typename T>
using TGdiHandle = TUniqueHandle<T, TNullTraits<T, DeleteGdiObject>>;
using TFontHandle = TGdiHandle<HFONT>;
using TBrushHandle = TGdiHandle<HBRUSH>;
using TPenHandle = TGdiHandle<HPEN>;
using TBitmapHandle = TGdiHandle<HBITMAP>;

// A COM interface pointer, released by its owner.
template <typename T>
struct TComTraits {
    static T* Invalid() noexcept { return nullptr; }
    static bool IsValid(T* AValue) noexcept { return AValue != nullptr; }
    static void Close(T* AValue) noexcept { AValue->Release(); }
};

template <typename T>
class TComPtr : public TUniqueHandle<T*, TComTraits<T>> {
public:
    using TUniqueHandle<T*, TComTraits<T>>::TUniqueHandle;
    T* operator->() const noexcept { return this->Get(); }
};

// A DC from GetDC, given back with ReleaseDC to the window it came from.
class TWindowDC {
public:
    explicit TWindowDC(HWND AWnd) noexcept : FWnd(AWnd), FDC(GetDC(AWnd)) {}
    ~TWindowDC()
    {
        if (FDC) ReleaseDC(FWnd, FDC);
    }
    TWindowDC(const TWindowDC&) = delete;
    TWindowDC& operator=(const TWindowDC&) = delete;
    HDC Get() const noexcept { return FDC; }

private:
    HWND FWnd;
    HDC FDC;
};

// The DC of one WM_PAINT, ended when the scope ends.
class TPaintDC {
public:
    explicit TPaintDC(HWND AWnd) noexcept : FWnd(AWnd), FDC(BeginPaint(AWnd, &FPaint)) {}
    ~TPaintDC() { EndPaint(FWnd, &FPaint); }
    TPaintDC(const TPaintDC&) = delete;
    TPaintDC& operator=(const TPaintDC&) = delete;
    HDC Get() const noexcept { return FDC; }

private:
    HWND FWnd;
    PAINTSTRUCT FPaint{};
    HDC FDC;
};

// Selects a GDI object into a DC for one scope.
class TSelectObject {
public:
    TSelectObject(HDC ADC, HGDIOBJ AObject) noexcept : FDC(ADC), FOld(SelectObject(ADC, AObject)) {}
    ~TSelectObject() { SelectObject(FDC, FOld); }
    TSelectObject(const TSelectObject&) = delete;
    TSelectObject& operator=(const TSelectObject&) = delete;

private:
    HDC FDC;
    HGDIOBJ FOld;
};

// Runs AAction when the scope ends, however it ends: for a clean-up that is
// no handle's, in place of a catch that cleans up and throws again. The
// action must not throw. Release() dismisses it, for a clean-up that only a
// failure needs.
template <typename F>
class TScopeExit {
public:
    explicit TScopeExit(F AAction) : FAction(std::move(AAction)) {}
    ~TScopeExit()
    {
        if (FActive) FAction();
    }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;
    TScopeExit(TScopeExit&&) = delete;
    TScopeExit& operator=(TScopeExit&&) = delete;

    void Release() noexcept { FActive = false; }

private:
    F FAction;
    bool FActive = true;
};

} // namespace fw
