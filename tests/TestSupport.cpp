#include "tests/TestSupport.h"

#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

#include "framework/Application.h"
#include "framework/Exceptions.h"
#include "framework/Handles.h"
#include "framework/Text.h"

namespace test {

namespace {

std::wstring TempRoot()
{
    wchar_t buffer[MAX_PATH + 1];
    DWORD n = GetTempPathW(MAX_PATH + 1, buffer);
    return std::wstring(buffer, n);
}

std::string ReadAll(const std::wstring& APath)
{
    fw::TFileHandle file(CreateFileW(APath.c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                                     nullptr));
    if (!file) return {};
    std::string data;
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(file.Get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) data.append(chunk, got);
    return data;
}

void WriteAll(const std::wstring& APath, const std::string& AData)
{
    fw::TFileHandle file(
        CreateFileW(APath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.Get(), AData.data(), static_cast<DWORD>(AData.size()), &written, nullptr) ||
        written != AData.size())
        throw std::runtime_error("cannot write scenario");
}

// The icon's width and its colour pixels as 32-bit top-down rows: what tells
// one image from another, whoever drew them.
void IconPixels(HICON AIcon, TNotifyRecord& ARecord)
{
    ICONINFO info{};
    if (!GetIconInfo(AIcon, &info)) return;
    fw::TBitmapHandle mask(info.hbmMask), colour(info.hbmColor);
    BITMAP bitmap{};
    if (!colour || !GetObjectW(colour.Get(), sizeof(bitmap), &bitmap)) return;
    BITMAPINFO header{};
    header.bmiHeader.biSize = sizeof(header.bmiHeader);
    header.bmiHeader.biWidth = bitmap.bmWidth;
    header.bmiHeader.biHeight = -bitmap.bmHeight;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = 32;
    header.bmiHeader.biCompression = BI_RGB;
    std::vector<BYTE> bits(static_cast<size_t>(bitmap.bmWidth) * static_cast<size_t>(bitmap.bmHeight) * 4);
    fw::TWindowDC screen(nullptr);
    if (GetDIBits(screen.Get(), colour.Get(), 0, static_cast<UINT>(bitmap.bmHeight), bits.data(), &header,
                  DIB_RGB_COLORS) != bitmap.bmHeight)
        return;
    ARecord.HasIcon = true;
    ARecord.IconWidth = static_cast<unsigned>(bitmap.bmWidth);
    ARecord.IconBits = std::move(bits);
}

} // namespace

TRasScenario::TRasScenario()
{
    static int counter = 0;
    FDir = TempRoot() + L"rassim-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++counter);
    CreateDirectoryW(FDir.c_str(), nullptr);
    FScenario = FDir + L"\\scenario.txt";
    FLog = FDir + L"\\calls.log";
    Write({});
    SetEnvironmentVariableW(L"RASSIM_SCENARIO", FScenario.c_str());
    SetEnvironmentVariableW(L"RASSIM_LOG", FLog.c_str());
}

TRasScenario::~TRasScenario()
{
    SetEnvironmentVariableW(L"RASSIM_SCENARIO", nullptr);
    SetEnvironmentVariableW(L"RASSIM_LOG", nullptr);
    DeleteFileW(FScenario.c_str());
    DeleteFileW(FLog.c_str());
    RemoveDirectoryW(FDir.c_str());
}

void TRasScenario::Write(const std::vector<std::wstring>& ALines)
{
    std::string text;
    for (const auto& line : ALines) text += fw::WideToUtf8(line) + "\n";
    WriteAll(FScenario, text);
}

std::vector<std::wstring> TRasScenario::LogLines() const
{
    std::vector<std::wstring> lines;
    std::istringstream in(ReadAll(FLog));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(fw::Utf8ToWide(line));
    }
    return lines;
}

std::vector<std::wstring> TRasScenario::Calls(const std::wstring& AFunction) const
{
    std::vector<std::wstring> calls;
    for (auto& line : LogLines())
        if (line.rfind(AFunction + L"\t", 0) == 0) calls.push_back(line);
    return calls;
}

void TRasScenario::ClearLog()
{
    DeleteFileW(FLog.c_str());
}

void InstallProgramServices()
{
    fw::TServices services = fw::SystemServices();
    services.RemoteAccess = &RasApi::SystemBinding();
    fw::InstallServices(services);
}

TServicesScope::TServicesScope(const std::function<void(fw::TServices&)>& AChange) : FPrevious(fw::Services())
{
    fw::TServices changed = FPrevious;
    AChange(changed);
    fw::InstallServices(changed);
}

TServicesScope::~TServicesScope()
{
    fw::InstallServices(FPrevious);
}

TFaultyServices::TFaultyServices()
    : FScope([this](fw::TServices& AServices) {
          AServices.StartThread = StartThread;
          AServices.LoadIcon = LoadIcon;
          AServices.RemoteAccess = this;
      })
{
}

TFaultyServices::~TFaultyServices()
{
    GThreadStart = false;
    GIconLoad = false;
}

void TFaultyServices::RaiseIn(const std::string& AFunction)
{
    std::lock_guard guard(FLock);
    FArmed[AFunction] = KRaise;
}

void TFaultyServices::FailIn(const std::string& AFunction, DWORD ACode)
{
    std::lock_guard guard(FLock);
    FArmed[AFunction] = ACode;
}

DWORD TFaultyServices::Spend(const char* AFunction) const
{
    DWORD code = 0;
    {
        std::lock_guard guard(FLock);
        auto armed = FArmed.find(AFunction);
        if (armed == FArmed.end()) return 0;
        code = armed->second;
        FArmed.erase(armed);
    }
    if (code == KRaise) fw::RaiseOSError(ERROR_NOT_ENOUGH_MEMORY);
    return code;
}

HANDLE TFaultyServices::StartThread(LPTHREAD_START_ROUTINE AProc, LPVOID AParam, DWORD AFlags)
{
    if (GThreadStart.exchange(false)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return fw::SystemServices().StartThread(AProc, AParam, AFlags);
}

HICON TFaultyServices::LoadIcon(LPCWSTR AName, int AWidth, int AHeight)
{
    if (GIconLoad.exchange(false)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return fw::SystemServices().LoadIcon(AName, AWidth, AHeight);
}

DWORD TFaultyServices::EnumEntries(LPCWSTR AReserved, LPCWSTR APhonebook, RasApi::TRasEntryNameW* AEntries,
                                   LPDWORD ASize, LPDWORD ACount) const
{
    if (DWORD code = Spend("RasEnumEntriesW")) return code;
    return RasApi::SystemBinding().EnumEntries(AReserved, APhonebook, AEntries, ASize, ACount);
}

DWORD TFaultyServices::GetEntryProperties(LPCWSTR APhonebook, LPCWSTR AEntry, RasApi::RASENTRYW* AEntryInfo,
                                          LPDWORD ASize, LPBYTE ADeviceInfo, LPDWORD ADeviceInfoSize) const
{
    if (DWORD code = Spend("RasGetEntryPropertiesW")) return code;
    return RasApi::SystemBinding().GetEntryProperties(APhonebook, AEntry, AEntryInfo, ASize, ADeviceInfo,
                                                      ADeviceInfoSize);
}

DWORD TFaultyServices::GetEntryDialParams(LPCWSTR APhonebook, RasApi::RASDIALPARAMSW* AParams,
                                          LPBOOL AHasPassword) const
{
    if (DWORD code = Spend("RasGetEntryDialParamsW")) return code;
    return RasApi::SystemBinding().GetEntryDialParams(APhonebook, AParams, AHasPassword);
}

DWORD TFaultyServices::Dial(void* AExtensions, LPCWSTR APhonebook, RasApi::RASDIALPARAMSW* AParams, DWORD ANotifierType,
                            void* ANotifier, RasApi::HRASCONN* AConnection) const
{
    if (DWORD code = Spend("RasDialW")) return code;
    return RasApi::SystemBinding().Dial(AExtensions, APhonebook, AParams, ANotifierType, ANotifier, AConnection);
}

DWORD TFaultyServices::HangUp(RasApi::HRASCONN AConnection) const
{
    if (DWORD code = Spend("RasHangUpW")) return code;
    return RasApi::SystemBinding().HangUp(AConnection);
}

DWORD TFaultyServices::EnumConnections(RasApi::TRasConnW* AConnections, LPDWORD ASize, LPDWORD ACount) const
{
    if (DWORD code = Spend("RasEnumConnectionsW")) return code;
    return RasApi::SystemBinding().EnumConnections(AConnections, ASize, ACount);
}

DWORD TFaultyServices::GetConnectStatus(RasApi::HRASCONN AConnection, RasApi::RASCONNSTATUSW* AStatus) const
{
    if (DWORD code = Spend("RasGetConnectStatusW")) return code;
    return RasApi::SystemBinding().GetConnectStatus(AConnection, AStatus);
}

TFakeTray::TFakeTray() : FScope([this](fw::TServices& AServices) { AServices.NotifyArea = this; }) {}

TFakeTray::~TFakeTray() = default;

bool TFakeTray::Notify(DWORD AMessage, const NOTIFYICONDATAW& AData)
{
    TNotifyRecord record;
    record.Message = AMessage;
    record.Flags = AData.uFlags;
    record.Tip = AData.szTip;
    record.Info = AData.szInfo;
    record.InfoTitle = AData.szInfoTitle;
    record.Timeout = AData.uTimeout;
    record.InfoFlags = AData.dwInfoFlags;
    if ((AData.uFlags & NIF_ICON) && AData.hIcon) IconPixels(AData.hIcon, record);
    const std::pair<HWND, UINT> icon{AData.hWnd, AData.uID};
    auto held = std::find(FIcons.begin(), FIcons.end(), icon);
    bool holds = held != FIcons.end();
    bool fits = AMessage == NIM_ADD ? !holds : holds;
    bool accepted = !Refuse && (fits || TakesAnything);
    if (accepted && AMessage == NIM_ADD && !holds) FIcons.push_back(icon);
    if (accepted && AMessage == NIM_DELETE && holds) FIcons.erase(held);
    record.Accepted = accepted;
    Records.push_back(std::move(record));
    return accepted;
}

// ---- TRunSoon ----

namespace {
thread_local std::vector<TRunSoon*> GRunSoon;
thread_local TBoxCatcher* GBoxCatcher = nullptr;

bool IsDialogBox(HWND AWnd)
{
    wchar_t name[16] = {};
    GetClassNameW(AWnd, name, 16);
    return std::wstring_view(name) == L"#32770";
}
} // namespace

TRunSoon::TRunSoon(std::function<bool()> AStep, UINT AIntervalMs) : FStep(std::move(AStep))
{
    FTimer = SetTimer(nullptr, 0, AIntervalMs, Tick);
    GRunSoon.push_back(this);
}

TRunSoon::~TRunSoon()
{
    if (FTimer) KillTimer(nullptr, FTimer);
    std::erase(GRunSoon, this);
}

void CALLBACK TRunSoon::Tick(HWND, UINT, UINT_PTR AId, DWORD)
{
    auto found = std::find_if(GRunSoon.begin(), GRunSoon.end(), [&](TRunSoon* ASoon) { return ASoon->FTimer == AId; });
    if (found == GRunSoon.end()) return;
    // The step may make a TRunSoon of its own, which changes the list.
    TRunSoon* soon = *found;
    if (soon->FRunning) return;
    soon->FRunning = true;
    bool done = soon->FStep();
    soon->FRunning = false;
    if (done) {
        KillTimer(nullptr, AId);
        soon->FTimer = 0;
    }
}

// ---- TBoxCatcher ----

TBoxCatcher::TBoxCatcher(UINT AHoldMs) : FHoldMs(AHoldMs), FOuter(GBoxCatcher)
{
    GBoxCatcher = this;
    FHook = SetWindowsHookExW(WH_CBT, Hook, nullptr, GetCurrentThreadId());
}

TBoxCatcher::~TBoxCatcher()
{
    UnhookWindowsHookEx(FHook);
    GBoxCatcher = FOuter;
}

LRESULT CALLBACK TBoxCatcher::Hook(int ACode, WPARAM AWParam, LPARAM ALParam)
{
    TBoxCatcher* self = GBoxCatcher;
    auto wnd = reinterpret_cast<HWND>(AWParam);
    if (self && (ACode == HCBT_ACTIVATE || ACode == HCBT_DESTROYWND) && IsDialogBox(wnd)) {
        if (ACode == HCBT_DESTROYWND) {
            if (RemovePropW(wnd, L"TBoxCatcher")) --self->FOpen;
        } else if (!GetPropW(wnd, L"TBoxCatcher")) {
            // The first activation: the box is built and its text is in place.
            SetPropW(wnd, L"TBoxCatcher", wnd);
            wchar_t text[1024] = {};
            GetDlgItemTextW(wnd, 0xFFFF, text, 1024);
            self->Texts.push_back(text);
            self->MostOpen = std::max(self->MostOpen, ++self->FOpen);
            SetTimer(wnd, 1, self->FHoldMs, Close);
        }
    }
    return CallNextHookEx(nullptr, ACode, AWParam, ALParam);
}

void CALLBACK TBoxCatcher::Close(HWND AWnd, UINT, UINT_PTR AId, DWORD)
{
    KillTimer(AWnd, AId);
    PostMessageW(AWnd, WM_COMMAND, IDOK, 0);
}

void PumpPending()
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

bool PumpUntil(const std::function<bool()>& APredicate, std::chrono::milliseconds ATimeout)
{
    auto deadline = std::chrono::steady_clock::now() + ATimeout;
    for (;;) {
        PumpPending();
        if (APredicate()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

bool MenuClosesWithin(const std::function<void()>& AAction, std::chrono::milliseconds ALimit)
{
    const auto deadline = std::chrono::steady_clock::now() + ALimit;
    bool late = false;
    // Past the deadline, at every tick: a menu may not be up yet, or open again.
    TRunSoon watch(
        [&] {
            if (std::chrono::steady_clock::now() < deadline) return false;
            late = true;
            EndMenu();
            return false;
        },
        50);
    AAction();
    return !late;
}

TWorker::TWorker(std::function<void()> ABody)
{
    // The body belongs to the thread: a worker left running keeps it.
    auto body = std::make_unique<std::function<void()>>(std::move(ABody));
    FThread.Reset(CreateThread(nullptr, 0, Run, body.get(), 0, nullptr));
    if (!FThread) throw std::runtime_error("cannot start a worker");
    static_cast<void>(body.release());
}

TWorker::~TWorker()
{
    if (!FGaveUp) JoinWithin();
}

DWORD WINAPI TWorker::Run(LPVOID AParam)
{
    std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(AParam));
    (*body)();
    return 0;
}

bool TWorker::JoinWithin(std::chrono::milliseconds ALimit)
{
    FGaveUp = !PumpUntil([&] { return WaitForSingleObject(FThread.Get(), 0) == WAIT_OBJECT_0; }, ALimit);
    return !FGaveUp;
}

std::wstring HostPath(const char* AUnixPath)
{
    std::wstring path = L"Z:" + fw::Utf8ToWide(AUnixPath);
    for (auto& c : path)
        if (c == L'/') c = L'\\';
    return path;
}

} // namespace test
