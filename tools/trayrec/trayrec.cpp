// tw_trayrec.dll: records a program's Shell_NotifyIconW calls for the
// benchmarks, from inside that program (tools/common/TrayRecord.h).
#include <windows.h>
#include <shellapi.h>

#include <cwchar>

#include "tools/common/TrayRecord.h"

namespace {

using TNotifyIcon = BOOL(WINAPI*)(DWORD, PNOTIFYICONDATAW);

TNotifyIcon GShellNotifyIcon = nullptr;
HWND GWatcher = nullptr;

template <size_t N>
void CopyText(WCHAR (&ADest)[N], const WCHAR* ASource)
{
    wcsncpy(ADest, ASource, N - 1);
    ADest[N - 1] = L'\0';
}

UINT IconWidth(HICON AIcon)
{
    ICONINFO info{};
    if (!AIcon || !GetIconInfo(AIcon, &info)) return 0;
    BITMAP bitmap{};
    HBITMAP shape = info.hbmColor ? info.hbmColor : info.hbmMask;
    UINT width = GetObjectW(shape, sizeof(bitmap), &bitmap) ? static_cast<UINT>(bitmap.bmWidth) : 0;
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return width;
}

BOOL WINAPI RecordedNotifyIcon(DWORD AMessage, PNOTIFYICONDATAW AData)
{
    tools::TTrayRecord record;
    record.Pid = GetCurrentProcessId();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    record.Time = now.QuadPart;
    record.Result = GShellNotifyIcon(AMessage, AData);
    DWORD error = GetLastError();
    record.Message = AMessage;
    if (AData) {
        record.Flags = AData->uFlags;
        record.InfoFlags = AData->dwInfoFlags;
        if (AData->uFlags & NIF_ICON) record.IconWidth = IconWidth(AData->hIcon);
        CopyText(record.Tip, AData->szTip);
        CopyText(record.Info, AData->szInfo);
        CopyText(record.InfoTitle, AData->szInfoTitle);
    }
    COPYDATASTRUCT copy{tools::KTrayRecordTag, sizeof(record), &record};
    DWORD_PTR answer = 0;
    SendMessageTimeoutW(GWatcher, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy), SMTO_ABORTIFHUNG, 10000, &answer);
    SetLastError(error);
    return record.Result;
}

// Points the main module's import of shell32's Shell_NotifyIconW at the recorder.
bool TakeImport()
{
    auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return false;
    for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); import->Name; ++import) {
        if (_stricmp(reinterpret_cast<const char*>(base + import->Name), "shell32.dll") != 0) continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (strcmp(reinterpret_cast<const char*>(byName->Name), "Shell_NotifyIconW") != 0) continue;
            DWORD old = 0;
            if (!VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), PAGE_READWRITE, &old)) return false;
            GShellNotifyIcon = reinterpret_cast<TNotifyIcon>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(&RecordedNotifyIcon);
            VirtualProtect(&slots->u1.Function, sizeof(slots->u1.Function), old, &old);
            return true;
        }
    }
    return false;
}

void Attach(HMODULE ASelf)
{
    // Loaded into every program of the desktop; only the watched one has the variable.
    WCHAR text[32] = {};
    DWORD n = GetEnvironmentVariableW(tools::KRecorderWindowVariable, text, 32);
    if (n == 0 || n >= 32) return;
    GWatcher = reinterpret_cast<HWND>(static_cast<ULONG_PTR>(wcstoull(text, nullptr, 16)));
    if (!GWatcher || !TakeImport()) return;
    // The import now leads here: stay loaded for the program's life, hook or not.
    HMODULE pinned = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(ASelf), &pinned);
}

} // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK TwTrayRecorderHook(int ACode, WPARAM AWParam, LPARAM ALParam)
{
    return CallNextHookEx(nullptr, ACode, AWParam, ALParam);
}

BOOL WINAPI DllMain(HINSTANCE AInstance, DWORD AReason, LPVOID)
{
    if (AReason == DLL_PROCESS_ATTACH) Attach(AInstance);
    return TRUE;
}
