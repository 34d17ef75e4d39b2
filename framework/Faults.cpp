#include "framework/Faults.h"

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "framework/Exceptions.h"

namespace fw {

namespace {

struct TArmed {
    TFaultSite Site;
    std::string Tag;
};

struct TFaults {
    std::atomic<bool> Any{false};
    std::mutex Lock;
    std::vector<TArmed> Armed;
};

TFaults& Faults()
{
    // Never destroyed: workers may still pass a site while the process ends.
    static auto* faults = new TFaults;
    return *faults;
}

} // namespace

void ArmFault(TFaultSite ASite, std::string_view ATag)
{
    TFaults& faults = Faults();
    std::lock_guard guard(faults.Lock);
    faults.Armed.push_back({ASite, std::string(ATag)});
    faults.Any = true;
}

void DisarmFaults() noexcept
{
    TFaults& faults = Faults();
    std::lock_guard guard(faults.Lock);
    faults.Armed.clear();
    faults.Any = false;
}

void CheckFault(TFaultSite ASite, std::string_view ATag)
{
    TFaults& faults = Faults();
    if (!faults.Any.load(std::memory_order_relaxed)) return;
    {
        std::lock_guard guard(faults.Lock);
        auto it = faults.Armed.begin();
        while (it != faults.Armed.end() && (it->Site != ASite || (!it->Tag.empty() && it->Tag != ATag))) ++it;
        if (it == faults.Armed.end()) return;
        faults.Armed.erase(it);
        faults.Any = !faults.Armed.empty();
    }
    RaiseOSError(ERROR_NOT_ENOUGH_MEMORY);
}

} // namespace fw
