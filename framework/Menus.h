#pragma once
// Popup menus whose items are objects: after items change, the HMENU is
// rebuilt from the visible ones in one go when it is next needed (never while
// it is open), so hidden items simply are not in it. Under an active theme
// the items are owner-drawn (TMenuPainter); their access keys are answered
// here, at WM_MENUCHAR, as owner-drawn items lose the system's own.
#include <windows.h>
#include <oleacc.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/Classes.h"
#include "framework/Handles.h"
#include "framework/ThemePaint.h"
#include "framework/Window.h"

namespace fw {

class TPopupMenu;

class TMenuItem : public TComponent {
public:
    explicit TMenuItem(std::wstring ACaption = L"") : FCaption(std::move(ACaption)) {}

    const std::wstring& Caption() const noexcept { return FCaption; }
    void SetCaption(const std::wstring& ACaption);
    bool Visible() const noexcept { return FVisible; }
    void SetVisible(bool AVisible);
    bool Enabled() const noexcept { return FEnabled; }
    void SetEnabled(bool AEnabled);
    bool Checked() const noexcept { return FChecked; }
    void SetChecked(bool AChecked);
    bool IsLine() const noexcept { return FCaption == L"-" && !LiteralCaption; }
    // The caption is shown as it stands: "&" is no access-key marker (for
    // captions that are data, such as entry names).
    bool LiteralCaption = false;
    // The caption as the system menu holds it.
    std::wstring MenuText() const;
    // The access key: the character after a single "&", upper-cased; 0 if none.
    wchar_t AccessKey() const noexcept;

    TNotifyEvent OnClick;
    void Click();

    UINT Command() const noexcept { return FCommand; }

    // What an item of the system menu carries as its data: first the record
    // that assistive technology reads from owner-drawn items, then the item.
    struct TItemData {
        MSAAMENUINFO Accessible;
        TMenuItem* Item;
    };
    // The item whose data that is; null for data of any other kind.
    static TMenuItem* FromItemData(ULONG_PTR AData) noexcept;

private:
    friend class TPopupMenu;
    void Changed();
    // This item's data, with the text the menu shows; it lives as long as
    // the item, so it outlives every rebuild of the menu.
    ULONG_PTR ItemData();

    std::wstring FCaption;
    std::wstring FDataText;
    TItemData FData{};
    bool FVisible = true, FEnabled = true, FChecked = false;
    TPopupMenu* FMenu = nullptr;
    UINT FCommand = 0;
};

// The menu lives on a host window: the system sends its WM_COMMAND,
// WM_MEASUREITEM, WM_DRAWITEM and WM_MENUCHAR there.
class TPopupMenu : public TComponent, private TWindowPart {
public:
    explicit TPopupMenu(THostWindow& AHost);
    ~TPopupMenu() override;
    TPopupMenu(const TPopupMenu&) = delete;
    TPopupMenu& operator=(const TPopupMenu&) = delete;

    int Count() const noexcept { return static_cast<int>(FItems.size()); }
    TMenuItem* Items(int AIndex) const noexcept { return FItems[static_cast<size_t>(AIndex)].get(); }
    int IndexOf(const TMenuItem* AItem) const noexcept;
    TMenuItem* Add(std::unique_ptr<TMenuItem> AItem) { return Insert(Count(), std::move(AItem)); }
    TMenuItem* Insert(int AIndex, std::unique_ptr<TMenuItem> AItem);
    // Moves an item of this menu to AIndex among the items.
    void Move(TMenuItem* AItem, int AIndex);

    bool AutoPopup = true;
    TComponent* PopupComponent = nullptr;
    TNotifyEvent OnPopup;

    // Raises OnPopup, then shows the menu at a screen point until it closes.
    void Popup(int AX, int AY);
    // Pops the menu up for AComponent at APoint as a notification-area
    // program must: its own hidden window brought to the foreground first,
    // pending messages dispatched, then the menu.
    void PopupFor(TComponent* AComponent, POINT APoint);

    // The menu as the system sees it, brought up to date first.
    HMENU Handle();
    // The window the menu's messages go to.
    HWND Window() const noexcept { return FHost.Handle(); }

private:
    friend class TMenuItem;
    void Changed();
    void Rebuild();
    TMenuItem* FindCommand(UINT ACommand) const noexcept;
    bool PartMessage(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult) override;
    // AItem when it is one of this menu's items.
    TMenuItem* Own(TMenuItem* AItem) const noexcept { return AItem && AItem->FMenu == this ? AItem : nullptr; }
    LRESULT MenuChar(wchar_t AChar, HMENU AMenu);

    THostWindow& FHost;
    std::vector<std::unique_ptr<TMenuItem>> FItems;
    TMenuHandle FHandle;
    TBrushHandle FBackground;
    TMenuPainter FPainter;
    UINT FNextCommand = 1;
    bool FDirty = true;
    const TStyle* FBuiltStyle = nullptr; // the theme the HMENU was built in
    bool FTracking = false;
};

} // namespace fw
