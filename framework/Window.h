#pragma once
// The base of every window the framework makes. Its static procedure binds
// the object at WM_NCCREATE (from lpCreateParams) and sets its handle there,
// so the handle is known while the window is being created; it hands every
// message to the virtual WndProc inside the application's exception guard,
// and lets go of the object at WM_NCDESTROY. The object owns its window.
//
// The window is made in a second step, CreateHandle, called once the object
// is built (from the constructor of the class that is built last), never from
// a base's constructor: messages sent during creation then reach the handler
// of the class the object really is.
#include <windows.h>

#include <vector>

namespace fw {

class TWindow {
public:
    TWindow(const TWindow&) = delete;
    TWindow& operator=(const TWindow&) = delete;
    virtual ~TWindow();

    HWND Handle() const noexcept { return FHandle; }

protected:
    TWindow() = default;

    // Makes the window, of AClassName (registered on first use), hidden
    // unless AStyle says otherwise; AOwner owns a top-level window.
    void CreateHandle(const wchar_t* AClassName, DWORD AStyle = WS_POPUP, DWORD AExStyle = 0, HWND AOwner = nullptr,
                      const wchar_t* ACaption = L"");

    // Handles a message; false leaves it to the default procedure.
    virtual bool WndProc(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult) = 0;

private:
    static LRESULT CALLBACK StaticWndProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam);

    HWND FHandle = nullptr;
};

// Something that lives on another window's messages: a timer's ticks, a
// popup menu's commands and owner-drawing. True for a message it handled.
class TWindowPart {
public:
    TWindowPart(const TWindowPart&) = delete;
    TWindowPart& operator=(const TWindowPart&) = delete;
    virtual bool PartMessage(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult) = 0;

protected:
    TWindowPart() = default;
    ~TWindowPart() = default;
};

// A hidden top-level window that serves the parts on it as well as itself:
// one window for a form and its timer and menu, not one each.
class THostWindow : public TWindow {
public:
    void AddPart(TWindowPart* APart) { FParts.push_back(APart); }
    void RemovePart(TWindowPart* APart) noexcept;

protected:
    // The parts see each message first, then HostMessage.
    bool WndProc(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult) final;
    virtual bool HostMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }

private:
    std::vector<TWindowPart*> FParts;
};

} // namespace fw
