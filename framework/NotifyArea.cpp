#include "framework/NotifyArea.h"

namespace fw {

namespace {

class TShellNotifyArea final : public TNotifyArea {
public:
    bool Notify(DWORD AMessage, const NOTIFYICONDATAW& AData) override
    {
        // The call takes a non-const record but only reads it.
        return Shell_NotifyIconW(AMessage, const_cast<NOTIFYICONDATAW*>(&AData)) != FALSE;
    }
};

} // namespace

TNotifyArea& ShellNotifyArea()
{
    static TShellNotifyArea shell;
    return shell;
}

} // namespace fw
