#include "framework/ThemedBoxes.h"

#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "framework/CommonControls.h"
#include "framework/Handles.h"
#include "framework/Styles.h"
#include "framework/ThemePaint.h"

namespace fw {

namespace {

constexpr wchar_t KDialogClass[] = L"#32770";

bool HasClass(HWND AWnd, const wchar_t* AClass)
{
    wchar_t name[32] = {};
    GetClassNameW(AWnd, name, 32);
    return CompareStringOrdinal(name, -1, AClass, -1, TRUE) == CSTR_EQUAL;
}

// What a themed box keeps, as its subclass's reference data.
struct TThemedBox {
    TControlColor Colors;
};

LRESULT CALLBACK BoxProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam, UINT_PTR AId, DWORD_PTR AData)
{
    auto* box = reinterpret_cast<TThemedBox*>(AData);
    const TStyle* style = TStyleManager::ActiveStyle();
    switch (AMsg) {
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        if (!style) break;
        return box->Colors.Answer(reinterpret_cast<HDC>(AWParam), *style);
    case WM_NOTIFY: {
        const auto* draw = reinterpret_cast<const NMCUSTOMDRAW*>(ALParam);
        if (!style || draw->hdr.code != NM_CUSTOMDRAW || !HasClass(draw->hdr.hwndFrom, L"Button")) break;
        if (draw->dwDrawStage != CDDS_PREPAINT) return CDRF_DODEFAULT;
        HWND button = draw->hdr.hwndFrom;
        RECT r;
        GetClientRect(button, &r);
        PaintThemedButton(draw->hdc, r, *style, ButtonLookOf(button), WindowText(button),
                          reinterpret_cast<HFONT>(SendMessageW(button, WM_GETFONT, 0, 0)));
        return CDRF_SKIPDEFAULT;
    }
    case WM_NCDESTROY:
        // The window's last message: the subclass and what it keeps go.
        Subclassing().Remove(AWnd, BoxProc, AId);
        delete box;
        break;
    default: break;
    }
    return Subclassing().Default(AWnd, AMsg, AWParam, ALParam);
}

void ThemeBox(HWND AWnd)
{
    // Binding the subclass calls loads comctl32 version 6, without which the
    // box's buttons would send no NM_CUSTOMDRAW.
    const TSubclassing& subclassing = Subclassing();
    if (!subclassing) return;
    auto box = std::make_unique<TThemedBox>();
    // Once set, the subclass owns the box and frees it at WM_NCDESTROY.
    if (subclassing.Set(AWnd, BoxProc, 0, reinterpret_cast<DWORD_PTR>(box.get()))) static_cast<void>(box.release());
}

LRESULT CALLBACK CreationHook(int ACode, WPARAM AWParam, LPARAM ALParam)
{
    if (ACode == HCBT_CREATEWND) {
        auto* wnd = reinterpret_cast<HWND>(AWParam);
        // A box shown without a theme (the one that says it is missing) keeps the system's look.
        if (TStyleManager::ActiveStyle() && HasClass(wnd, KDialogClass)) ThemeBox(wnd);
    }
    return CallNextHookEx(nullptr, ACode, AWParam, ALParam);
}

} // namespace

void HookMessageBoxes()
{
    // For the life of the process, on the user-interface thread that calls it.
    static const THookHandle hook(SetWindowsHookExW(WH_CBT, CreationHook, nullptr, GetCurrentThreadId()));
}

} // namespace fw
