#pragma once
// Themes embedded as resources of type "FWSTYLE", in our own text format:
//   FWSTYLE 1            magic line
//   ; comment
//   Name=Glow            the style name a theme is selected by
//   Key=#RRGGBB          one line per colour, all of KStyleColorKeys required
#include <windows.h>

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/Exceptions.h"

namespace fw {

enum class TStyleColor {
    Window,
    WindowText,
    MenuBackground,
    MenuText,
    MenuHighlight,
    MenuHighlightText,
    MenuDisabledText,
    MenuSeparator,
    MenuCheck,
    ButtonFace,
    ButtonText,
    ButtonHover,
    Border,
    Count
};

struct TStyle {
    std::wstring Name;
    std::array<COLORREF, static_cast<size_t>(TStyleColor::Count)> Colors{};
    COLORREF Color(TStyleColor AColor) const noexcept { return Colors[static_cast<size_t>(AColor)]; }
};

// A theme resource that could not be loaded.
class EStyleError : public Exception {
public:
    using Exception::Exception;
    const wchar_t* ClassName() const noexcept override { return L"EStyleError"; }
};

// Parses a theme file (StyleParser.cpp); nullopt when it is damaged.
std::optional<TStyle> ParseStyle(std::string_view AText);

class TStyleManager {
public:
    // Selects the theme registered under AName (case-insensitive). When none
    // has that name: false, and with AShowErrorMessage an error box.
    static bool TrySetStyle(const std::wstring& AName, bool AShowErrorMessage = true);
    // The active theme, or null for the system's own look: also while the
    // user's high-contrast scheme is on, whose colours nothing overrides.
    static const TStyle* ActiveStyle() noexcept;
    // Forgets registered and active themes (tests select anew).
    static void Reset() noexcept;

    // Whether high contrast is on, as last asked.
    static bool HighContrast() noexcept;
    // Asks again after the system's settings changed; true when the answer
    // changed, and then every window of this thread is drawn anew.
    static bool SettingsChanged();
    // The text of the box shown when no theme has the name.
    static std::wstring NotFoundText(const std::wstring& AName);
};

} // namespace fw
