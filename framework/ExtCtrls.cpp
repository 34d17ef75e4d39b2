#include "framework/ExtCtrls.h"

#include "framework/Application.h"

namespace fw {

TTimer::TTimer(THostWindow& AHost) : FHost(AHost)
{
    FHost.AddPart(this);
    Update();
}

TTimer::~TTimer()
{
    KillTimer(FHost.Handle(), Id());
    FHost.RemovePart(this);
}

void TTimer::SetInterval(unsigned AMilliseconds)
{
    if (AMilliseconds == FInterval) return;
    FInterval = AMilliseconds;
    Update();
}

void TTimer::SetEnabled(bool AEnabled)
{
    if (AEnabled == FEnabled) return;
    FEnabled = AEnabled;
    Update();
}

void TTimer::Update()
{
    KillTimer(FHost.Handle(), Id());
    if (FEnabled && FInterval > 0) SetTimer(FHost.Handle(), Id(), FInterval, nullptr);
}

bool TTimer::PartMessage(UINT AMsg, WPARAM AWParam, LPARAM, LRESULT& AResult)
{
    if (AMsg != WM_TIMER || AWParam != Id()) return false;
    AResult = 0;
    // A tick that comes while an earlier one is still being handled (its
    // error box is open, say) does nothing: otherwise each tick would stack
    // one more box inside the last one's modal loop.
    if (FTicking || !OnTimer) return true;
    FTicking = true;
    try {
        OnTimer(this);
    } catch (...) {
        if (Application) Application->HandleException(std::current_exception());
    }
    FTicking = false;
    return true;
}

} // namespace fw
