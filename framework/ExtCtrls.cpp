#include "framework/ExtCtrls.h"

#include "framework/Application.h"

namespace fw {

namespace {
constexpr UINT_PTR KTimerId = 1;
}

TTimer::TTimer()
{
    FWindow = std::make_unique<TMessageWindow>(
        L"TTimer", [this](UINT m, WPARAM w, LPARAM l, LRESULT& r) { return WndProc(m, w, l, r); });
    Update();
}

TTimer::~TTimer()
{
    KillTimer(FWindow->Handle(), KTimerId);
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
    KillTimer(FWindow->Handle(), KTimerId);
    if (FEnabled && FInterval > 0) SetTimer(FWindow->Handle(), KTimerId, FInterval, nullptr);
}

bool TTimer::WndProc(UINT AMsg, WPARAM AWParam, LPARAM, LRESULT& AResult)
{
    if (AMsg != WM_TIMER || AWParam != KTimerId) return false;
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
