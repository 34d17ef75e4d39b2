#include "framework/Locale.h"

namespace fw {

namespace {
LCID GStartupLocale = MAKELCID(MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), SORT_DEFAULT);
}

void ReadStartupLocale() noexcept
{
    if (LCID locale = GetThreadLocale()) GStartupLocale = locale;
}

LCID StartupLocale() noexcept
{
    return GStartupLocale;
}

} // namespace fw
