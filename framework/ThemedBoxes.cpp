#include "framework/ThemedBoxes.h"

#include <windows.h>
#include <commctrl.h>

#include "framework/Handles.h"
#include "framework/Styles.h"
#include "framework/ThemePaint.h"

namespace fw {

namespace {

constexpr wchar_t KDialogClass[] = L"#32770";
constexpr wchar_t KThemedProperty[] = L"Tarnwick.ThemedBox";

bool HasClass(HWND AWnd, const wchar_t* AClass)
{
    wchar_t name[32] = {};
    GetClassNameW(AWnd, name, 32);
    return CompareStringOrdinal(name, -1, AClass, -1, TRUE) == CSTR_EQUAL;
}

// What a themed box holds: the procedure it had and its WM_CTLCOLOR* answer.
struct TThemedBox {
    WNDPROC Original;
    TControlColor Colors;
};

LRESULT CALLBACK BoxProc(HWND AWnd, UINT AMsg, WPARAM AWParam, LPARAM ALParam)
{
    auto* box = static_cast<TThemedBox*>(GetPropW(AWnd, KThemedProperty));
    if (!box) return DefWindowProcW(AWnd, AMsg, AWParam, ALParam);
    WNDPROC original = box->Original;
    const TStyle* style = TStyleManager::ActiveStyle();
    switch (AMsg) {
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
        if (!style) break;
        return box->Colors.Answer(reinterpret_cast<HDC>(AWParam), *style);
    case WM_NOTIFY: {
        auto* draw = reinterpret_cast<const NMCUSTOMDRAW*>(ALParam);
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
        SetWindowLongPtrW(AWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        RemovePropW(AWnd, KThemedProperty);
        delete box;
        break;
    default:
        break;
    }
    return CallWindowProcW(original, AWnd, AMsg, AWParam, ALParam);
}

void ThemeBox(HWND AWnd)
{
    // Its buttons send custom-draw notifications only with version 6 there.
    LoadCommonControls();
    auto* box = new TThemedBox{};
    if (!SetPropW(AWnd, KThemedProperty, box)) {
        delete box;
        return;
    }
    box->Original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(AWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BoxProc)));
}

LRESULT CALLBACK CreationHook(int ACode, WPARAM AWParam, LPARAM ALParam)
{
    if (ACode == HCBT_CREATEWND) {
        auto wnd = reinterpret_cast<HWND>(AWParam);
        // A box shown without a theme (the one that says it is missing) keeps the system's look.
        if (TStyleManager::ActiveStyle() && HasClass(wnd, KDialogClass)) ThemeBox(wnd);
    }
    return CallNextHookEx(nullptr, ACode, AWParam, ALParam);
}

} // namespace

void HookMessageBoxes()
{
    // The theme engine's hook, for the life of the process, on its user-interface thread.
    static const THookHandle hook(
        SetWindowsHookExW(WH_CBT, CreationHook, nullptr, GetCurrentThreadId()));
}

} // namespace fw
