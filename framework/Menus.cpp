#include "framework/Menus.h"

#include <algorithm>

#include "framework/Application.h"
#include "framework/Exceptions.h"
#include "framework/Styles.h"

namespace fw {

namespace {

wchar_t UpperChar(wchar_t AChar) noexcept
{
    CharUpperBuffW(&AChar, 1);
    return AChar;
}

} // namespace

// ---- TMenuItem ----

void TMenuItem::SetCaption(const std::wstring& ACaption)
{
    if (ACaption == FCaption) return;
    FCaption = ACaption;
    Changed();
}

void TMenuItem::SetVisible(bool AVisible)
{
    if (AVisible == FVisible) return;
    FVisible = AVisible;
    Changed();
}

void TMenuItem::SetEnabled(bool AEnabled)
{
    if (AEnabled == FEnabled) return;
    FEnabled = AEnabled;
    Changed();
}

void TMenuItem::SetChecked(bool AChecked)
{
    if (AChecked == FChecked) return;
    FChecked = AChecked;
    Changed();
}

std::wstring TMenuItem::MenuText() const
{
    if (!LiteralCaption) return FCaption;
    std::wstring text;
    for (wchar_t c : FCaption) {
        if (c == L'&') text += L'&';
        text += c;
    }
    return text;
}

wchar_t TMenuItem::AccessKey() const noexcept
{
    if (LiteralCaption) return 0;
    for (size_t i = 0; i + 1 < FCaption.size(); ++i) {
        if (FCaption[i] != L'&') continue;
        if (FCaption[i + 1] == L'&') {
            ++i; // "&&" is a literal ampersand
            continue;
        }
        return UpperChar(FCaption[i + 1]);
    }
    return 0;
}

ULONG_PTR TMenuItem::ItemData()
{
    FDataText = IsLine() ? std::wstring() : MenuText();
    FData.Accessible.dwMSAASignature = static_cast<DWORD>(MSAA_MENU_SIG);
    FData.Accessible.cchWText = static_cast<DWORD>(FDataText.size());
    FData.Accessible.pszWText = FDataText.data();
    FData.Item = this;
    return reinterpret_cast<ULONG_PTR>(&FData);
}

TMenuItem* TMenuItem::FromItemData(ULONG_PTR AData) noexcept
{
    const auto* data = reinterpret_cast<const TItemData*>(AData);
    if (!data || data->Accessible.dwMSAASignature != static_cast<DWORD>(MSAA_MENU_SIG)) return nullptr;
    return data->Item;
}

void TMenuItem::Click()
{
    if (OnClick) OnClick(this);
}

void TMenuItem::Changed()
{
    if (FMenu) FMenu->Changed();
}

// ---- TPopupMenu ----

TPopupMenu::TPopupMenu(THostWindow& AHost) : FHost(AHost)
{
    FHandle.Reset(CreatePopupMenu());
    if (!FHandle) RaiseLastOSError();
    FHost.AddPart(this);
}

TPopupMenu::~TPopupMenu()
{
    FHost.RemovePart(this);
}

int TPopupMenu::IndexOf(const TMenuItem* AItem) const noexcept
{
    for (size_t i = 0; i < FItems.size(); ++i)
        if (FItems[i].get() == AItem) return static_cast<int>(i);
    return -1;
}

TMenuItem* TPopupMenu::Insert(int AIndex, std::unique_ptr<TMenuItem> AItem)
{
    TMenuItem* item = AItem.get();
    item->FMenu = this;
    item->FCommand = FNextCommand++;
    AIndex = std::clamp(AIndex, 0, Count());
    FItems.insert(FItems.begin() + AIndex, std::move(AItem));
    Changed();
    return item;
}

void TPopupMenu::Move(TMenuItem* AItem, int AIndex)
{
    int from = IndexOf(AItem);
    if (from < 0) return;
    std::unique_ptr<TMenuItem> item = std::move(FItems[static_cast<size_t>(from)]);
    FItems.erase(FItems.begin() + from);
    AIndex = std::clamp(AIndex, 0, Count());
    FItems.insert(FItems.begin() + AIndex, std::move(item));
    Changed();
}

HMENU TPopupMenu::Handle()
{
    // While the menu is open its items stay as the user sees them: a change
    // made then (a result landing, say) waits until it has closed, so a
    // position never comes to mean another item under the user's keys.
    if ((FDirty || FBuiltStyle != TStyleManager::ActiveStyle()) && !FTracking) Rebuild();
    return FHandle.Get();
}

void TPopupMenu::Changed()
{
    // Changes are applied in one go when the menu is next needed.
    FDirty = true;
}

void TPopupMenu::Rebuild()
{
    FDirty = false;
    HMENU menu = FHandle.Get();
    while (GetMenuItemCount(menu) > 0) RemoveMenu(menu, 0, MF_BYPOSITION);

    const TStyle* style = TStyleManager::ActiveStyle();
    FBuiltStyle = style;
    UINT position = 0;
    for (const auto& item : FItems) {
        if (!item->Visible()) continue;
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_DATA;
        info.fType = (item->IsLine() ? MFT_SEPARATOR : MFT_STRING) | (style ? MFT_OWNERDRAW : 0);
        info.fState = (item->Enabled() ? MFS_ENABLED : MFS_DISABLED) | (item->Checked() ? MFS_CHECKED : 0);
        info.wID = item->Command();
        info.dwItemData = item->ItemData();
        if (!item->IsLine()) {
            // InsertMenuItemW keeps its own copy of the string.
            info.fMask |= MIIM_STRING;
            info.dwTypeData = item->FDataText.data();
        }
        InsertMenuItemW(menu, position++, TRUE, &info);
    }

    FBackground.Reset(style ? CreateSolidBrush(style->Color(TStyleColor::MenuBackground)) : nullptr);
    MENUINFO menuInfo{};
    menuInfo.cbSize = sizeof(menuInfo);
    menuInfo.fMask = MIM_BACKGROUND;
    menuInfo.hbrBack = FBackground.Get();
    SetMenuInfo(menu, &menuInfo);
}

void TPopupMenu::PopupFor(TComponent* AComponent, POINT APoint)
{
    // SetForegroundWindow first: the menu of a window that is not in the
    // foreground would not close when the user clicks elsewhere.
    SetForegroundWindow(Application->Handle());
    Application->ProcessMessages();
    AutoPopup = false;
    PopupComponent = AComponent;
    Popup(APoint.x, APoint.y);
}

void TPopupMenu::Popup(int AX, int AY)
{
    if (OnPopup) OnPopup(this);
    HMENU menu = Handle();
    FTracking = true;
    TrackPopupMenuEx(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, AX, AY, Window(), nullptr);
    FTracking = false;
    // A WM_NULL posted after TrackPopupMenuEx lets the menu close properly
    // when its window was not the foreground window.
    PostMessageW(Window(), WM_NULL, 0, 0);
}

TMenuItem* TPopupMenu::FindCommand(UINT ACommand) const noexcept
{
    for (const auto& item : FItems)
        if (item->Command() == ACommand) return item.get();
    return nullptr;
}

bool TPopupMenu::PartMessage(UINT AMsg, WPARAM AWParam, LPARAM ALParam, LRESULT& AResult)
{
    switch (AMsg) {
    case WM_COMMAND: {
        TMenuItem* item = HIWORD(AWParam) == 0 ? FindCommand(LOWORD(AWParam)) : nullptr;
        if (!item) return false;
        item->Click();
        AResult = 0;
        return true;
    }
    case WM_MEASUREITEM: {
        auto* measure = reinterpret_cast<MEASUREITEMSTRUCT*>(ALParam);
        TMenuItem* item = measure->CtlType == ODT_MENU ? Own(TMenuItem::FromItemData(measure->itemData)) : nullptr;
        if (!item) return false;
        FPainter.Measure(Window(), item->IsLine(), item->MenuText(), *measure);
        AResult = TRUE;
        return true;
    }
    case WM_DRAWITEM: {
        auto* draw = reinterpret_cast<DRAWITEMSTRUCT*>(ALParam);
        TMenuItem* item = draw->CtlType == ODT_MENU ? Own(TMenuItem::FromItemData(draw->itemData)) : nullptr;
        if (!item) return false;
        if (const TStyle* style = TStyleManager::ActiveStyle())
            FPainter.Draw(Window(), *style, item->IsLine(), item->MenuText(), *draw);
        AResult = TRUE;
        return true;
    }
    case WM_MENUCHAR:
        if (reinterpret_cast<HMENU>(ALParam) != FHandle.Get()) return false;
        AResult = MenuChar(static_cast<wchar_t>(LOWORD(AWParam)), FHandle.Get());
        return true;
    default: return false;
    }
}

LRESULT TPopupMenu::MenuChar(wchar_t AChar, HMENU AMenu)
{
    wchar_t key = UpperChar(AChar);
    int count = GetMenuItemCount(AMenu);
    for (int position = 0; position < count; ++position) {
        MENUITEMINFOW info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_DATA | MIIM_STATE;
        if (!GetMenuItemInfoW(AMenu, static_cast<UINT>(position), TRUE, &info)) continue;
        TMenuItem* item = TMenuItem::FromItemData(info.dwItemData);
        if (item && !(info.fState & MFS_DISABLED) && item->AccessKey() == key)
            return MAKELRESULT(position, MNC_EXECUTE);
    }
    return MAKELRESULT(0, MNC_IGNORE);
}

} // namespace fw
