#include "framework/Services.h"

#include <atomic>
#include <type_traits>

#include "framework/Dpi.h"
#include "framework/NotifyArea.h"

namespace fw {

namespace {

HANDLE SystemStartThread(LPTHREAD_START_ROUTINE AProc, LPVOID AParam, DWORD AFlags)
{
    return CreateThread(nullptr, 0, AProc, AParam, AFlags, nullptr);
}

HICON SystemLoadIcon(LPCWSTR AName, int AWidth, int AHeight)
{
    return static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), AName, IMAGE_ICON, AWidth, AHeight, 0));
}

bool SystemHighContrast()
{
    HIGHCONTRASTW contrast{};
    contrast.cbSize = sizeof(contrast);
    return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
           (contrast.dwFlags & HCF_HIGHCONTRASTON);
}

static_assert(std::is_trivially_destructible_v<TServices>);

std::atomic<const TServices*> GInstalled{nullptr};

} // namespace

TServices SystemServices()
{
    return TServices{.StartThread = SystemStartThread,
                     .LoadIcon = SystemLoadIcon,
                     .HighContrast = SystemHighContrast,
                     .WindowDpi = SystemWindowDpi,
                     .NotifyArea = &ShellNotifyArea()};
}

const TServices& Services() noexcept
{
    if (const TServices* installed = GInstalled.load(std::memory_order_acquire)) return *installed;
    static const TServices system = SystemServices(); // trivially destroyed: nothing to free
    return system;
}

void InstallServices(const TServices& AServices)
{
    // Never freed: a worker may still hold the set it read when its request
    // began. Only the entry, once, and tests install.
    GInstalled.store(new TServices(AServices), std::memory_order_release);
}

} // namespace fw
