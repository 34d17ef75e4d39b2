#pragma once
// The window timer.
#include <windows.h>

#include <memory>

#include "framework/Classes.h"
#include "framework/Window.h"

namespace fw {

class TTimer : public TComponent {
public:
    TTimer();
    ~TTimer() override;

    unsigned Interval() const noexcept { return FInterval; }
    void SetInterval(unsigned AMilliseconds);
    bool Enabled() const noexcept { return FEnabled; }
    void SetEnabled(bool AEnabled);

    TNotifyEvent OnTimer;

private:
    void Update();
    bool WndProc(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult);

    unsigned FInterval = 1000;
    bool FEnabled = true;
    bool FTicking = false;
    std::unique_ptr<TMessageWindow> FWindow;
};

} // namespace fw
