#pragma once
// Fonts and pictures for windowless controls.
#include <windows.h>

#include <string>

#include "framework/Handles.h"

namespace fw {

// A font as a component describes it. Height is the character height in
// pixels (a negative LOGFONT height).
struct TFont {
    std::wstring Name = L"Segoe UI";
    int Height = 12;
    bool Bold = false;
    COLORREF Color = CLR_INVALID; // CLR_INVALID: the window text colour

    TFontHandle Create() const;
};

// A 32-bit picture with alpha, decoded from a PNG resource.
class TPicture {
public:
    // Loads the PNG resource AName of type "PNG" from this executable.
    void LoadFromResource(const wchar_t* AName);
    int Width() const noexcept { return FWidth; }
    int Height() const noexcept { return FHeight; }
    bool Empty() const noexcept { return !FBitmap; }
    // Blends the picture at its own size with its top-left corner at (AX, AY).
    void Draw(HDC ADC, int AX, int AY) const;

private:
    TBitmapHandle FBitmap; // premultiplied BGRA, top-down
    int FWidth = 0, FHeight = 0;
};

} // namespace fw
