#include "framework/Text.h"

namespace fw {

namespace {
bool IsHighSurrogate(wchar_t c) noexcept { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(wchar_t c) noexcept { return c >= 0xDC00 && c <= 0xDFFF; }
} // namespace

std::wstring Utf8ToWide(std::string_view AText)
{
    // Lenient: an invalid sequence becomes U+FFFD. Strict decoding belongs to
    // the readers that must reject bad input.
    std::wstring out;
    out.reserve(AText.size());
    size_t i = 0;
    while (i < AText.size()) {
        unsigned char c = static_cast<unsigned char>(AText[i]);
        char32_t cp = 0xFFFD;
        size_t len = 1;
        if (c < 0x80) {
            cp = c;
        } else {
            size_t need = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c < 0xE0 ? 2 : 0;
            if (need && i + need <= AText.size()) {
                char32_t v = c & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
                bool ok = true;
                for (size_t k = 1; k < need; ++k) {
                    unsigned char cc = static_cast<unsigned char>(AText[i + k]);
                    if ((cc & 0xC0) != 0x80) { ok = false; break; }
                    v = (v << 6) | (cc & 0x3F);
                }
                bool minimal = need == 2 || (need == 3 && v >= 0x800) || (need == 4 && v >= 0x10000);
                if (ok && minimal && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                    cp = v;
                    len = need;
                }
            }
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<wchar_t>(cp));
        }
        i += len;
    }
    return out;
}

std::string WideToUtf8(std::wstring_view AText)
{
    std::string out;
    out.reserve(AText.size());
    for (size_t i = 0; i < AText.size(); ++i) {
        char32_t cp = static_cast<char16_t>(AText[i]);
        if (IsHighSurrogate(AText[i]) && i + 1 < AText.size() && IsLowSurrogate(AText[i + 1])) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char16_t>(AText[i + 1]) - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

std::wstring_view CutUtf16(std::wstring_view AText, size_t AMaxUnits) noexcept
{
    if (AText.size() <= AMaxUnits) return AText;
    size_t n = AMaxUnits;
    if (n > 0 && IsHighSurrogate(AText[n - 1]) && IsLowSurrogate(AText[n])) --n;
    return AText.substr(0, n);
}

} // namespace fw
