#pragma once
// The root classes of the widget layer and its event types.
#include <cstdint>
#include <functional>
#include <string>

namespace fw {

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = delete;
    TObject& operator=(const TObject&) = delete;
    virtual ~TObject() = default;
};

class TComponent : public TObject {
public:
    std::wstring Name;
    // Free for the owner's use; the framework never reads it.
    std::intptr_t Tag = 0;
    // True while the component is still being built: what it owns takes no
    // user input yet.
    virtual bool Creating() const noexcept { return false; }
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

enum class TMouseButton { mbLeft, mbRight, mbMiddle };

// The modifier state of a mouse or key event.
struct TShiftState {
    bool Shift = false, Ctrl = false, Alt = false;
    bool Any() const noexcept { return Shift || Ctrl || Alt; }
};

// Shift, Ctrl and Alt as GetKeyState reports them: as they were when this
// thread took its latest input message from its queue.
TShiftState GetShiftState() noexcept;

using TMouseEvent = std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;

} // namespace fw
