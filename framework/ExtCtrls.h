#pragma once
// The window timer: its ticks come to the window it lives on.
#include <windows.h>

#include "framework/Classes.h"
#include "framework/Window.h"

namespace fw {

class TTimer : public TComponent, private TWindowPart {
public:
    explicit TTimer(THostWindow& AHost);
    ~TTimer() override;
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    unsigned Interval() const noexcept { return FInterval; }
    void SetInterval(unsigned AMilliseconds);
    bool Enabled() const noexcept { return FEnabled; }
    void SetEnabled(bool AEnabled);

    TNotifyEvent OnTimer;

private:
    void Update();
    bool PartMessage(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult) override;
    // The timer's id on its host: its own address, so timers never share one.
    UINT_PTR Id() const noexcept { return reinterpret_cast<UINT_PTR>(this); }

    THostWindow& FHost;
    unsigned FInterval = 1000;
    bool FEnabled = true;
    bool FTicking = false;
};

} // namespace fw
