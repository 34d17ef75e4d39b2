#include "net_vpn/Net.VPN.Win.h"

#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cstring>

#include "framework/Com.h"
#include "framework/Exceptions.h"
#include "framework/Handles.h"
#include "framework/Services.h"
#include "framework/Synchronize.h"
#include "framework/Text.h"

namespace NetVPNWin {

// A hung-up line is not gone at once: the connection manager still closes it,
// and using the connection meanwhile can fail (a dial of the same entry with
// 602, "port already open"). The service asks a program to wait until the
// status query on the handle answers ERROR_INVALID_HANDLE: the connection has
// been deleted. One request waits at most the services' LineCloseLimit in all;
// past that it goes on as if the lines had gone.
class TLineWait {
public:
    TLineWait() : FLeft(fw::Services().LineCloseLimit), FPoll(std::max<DWORD>(fw::Services().LineClosePoll, 1)) {}

    void UntilGone(std::vector<RasApi::HRASCONN> ALines)
    {
        const ULONGLONG start = GetTickCount64();
        for (;;) {
            std::erase_if(ALines, Gone);
            const ULONGLONG spent = GetTickCount64() - start;
            if (ALines.empty() || spent >= FLeft) {
                FLeft = spent >= FLeft ? 0 : FLeft - static_cast<DWORD>(spent);
                return;
            }
            Sleep(std::min<DWORD>(FPoll, FLeft - static_cast<DWORD>(spent)));
        }
    }

private:
    // Any answer but these two means the line is still closing, whatever state it reports.
    static bool Gone(RasApi::HRASCONN ALine)
    {
        RasApi::RASCONNSTATUSW status{};
        status.dwSize = sizeof(status);
        try {
            DWORD result = RasApi::RasGetConnectStatusW(ALine, &status);
            return result == ERROR_INVALID_HANDLE || result == ERROR_PROC_NOT_FOUND;
        } catch (...) {
            return true; // a service that cannot answer is not waited for
        }
    }

    DWORD FLeft; // ms
    DWORD FPoll; // ms
};

TVPNInfo TVPNInfo::Create(const TVPNManager* AManager, const std::wstring& AName)
{
    TVPNInfo info;
    info.FManager = AManager;
    info.FName = AName;
    return info;
}

// ---- TVPNInfo ----

std::vector<RasApi::TRasConnW> TVPNInfo::EnumConnections() const
{
    return RasApi::EnumConnections();
}

RasApi::TRasConnW TVPNInfo::FindConnection() const
{
    for (const RasApi::TRasConnW& connection : EnumConnections())
        if (RasApi::FieldText(connection.szEntryName) == FName) return connection;
    return RasApi::TRasConnW{};
}

bool TVPNInfo::IsConnected() const
{
    RasApi::TRasConnW connection = FindConnection();
    if (!connection.hrasconn) return false;
    RasApi::RASCONNSTATUSW status{};
    status.dwSize = sizeof(status);
    return RasApi::RasGetConnectStatusW(connection.hrasconn, &status) == 0 &&
           status.rasconnstate == RasApi::RASCS_Connected;
}

void TVPNInfo::DisconnectAll() const
{
    TLineWait wait;
    HangUpAll(wait);
}

void TVPNInfo::HangUpAll(TLineWait& AWait) const
{
    // Every line is told first, so that they close side by side.
    std::vector<RasApi::HRASCONN> closing;
    for (const RasApi::TRasConnW& connection : EnumConnections())
        if (connection.hrasconn && RasApi::RasHangUpW(connection.hrasconn) == 0) closing.push_back(connection.hrasconn);
    AWait.UntilGone(std::move(closing));
}

bool TVPNInfo::ForceDisconnect() const
{
    RasApi::TRasConnW connection = FindConnection();
    return connection.hrasconn && RasApi::RasHangUpW(connection.hrasconn) == 0;
}

void TVPNInfo::Connect(const TConnectionProc& AProc) const
{
    StartRequest(true, AProc);
}

void TVPNInfo::Disconnect(const TConnectionProc& AProc) const
{
    StartRequest(false, AProc);
}

void TVPNInfo::ConnectWorker(const TVPNInfo& AInfo, bool& ASuccess)
{
    // The record receives the stored password: it leaves no copy on the
    // stack, whichever way this ends.
    struct TDialParams {
        RasApi::RASDIALPARAMSW Record{};
        TDialParams() = default;
        TDialParams(const TDialParams&) = delete;
        TDialParams& operator=(const TDialParams&) = delete;
        ~TDialParams() { SecureZeroMemory(&Record, sizeof(Record)); }
    } params;
    params.Record.dwSize = sizeof(params.Record);
    // A name the record cannot hold is dialled as an empty name, which the
    // service refuses, rather than cut to some other entry's name.
    if (AInfo.FName.size() <= RasApi::RAS_MaxEntryName)
        std::memcpy(params.Record.szEntryName, AInfo.FName.c_str(), (AInfo.FName.size() + 1) * sizeof(WCHAR));
    BOOL hasPassword = FALSE;
    if (RasApi::RasGetEntryDialParamsW(nullptr, &params.Record, &hasPassword) != 0) return;
    TLineWait wait;
    // The dial comes only once the lines it replaces have closed.
    AInfo.HangUpAll(wait);
    RasApi::HRASCONN connection = nullptr;
    DWORD result = RasApi::RasDialW(nullptr, nullptr, &params.Record, 0, nullptr, &connection);
    ASuccess = result == 0;
    // A failed dial may still hand out a handle, which must be released.
    if (!ASuccess && connection && RasApi::RasHangUpW(connection) == 0) wait.UntilGone({connection});
}

void TVPNInfo::DisconnectWorker(const TVPNInfo& AInfo, bool& ASuccess)
{
    RasApi::TRasConnW connection = AInfo.FindConnection();
    if (!connection.hrasconn) return;
    ASuccess = RasApi::RasHangUpW(connection.hrasconn) == 0;
    // "Disconnected" is reported once the line has gone.
    if (ASuccess) TLineWait().UntilGone({connection.hrasconn});
}

namespace {

// One request: the worker's own copy of the entry and the caller's completion.
struct TRequest {
    TVPNInfo Info;
    TConnectionProc Proc;
    void (*Body)(const TVPNInfo&, bool&);
};

DWORD WINAPI RequestThread(LPVOID AParam)
{
    std::unique_ptr<TRequest> request(static_cast<TRequest*>(AParam));
    bool success = false;
    try {
        request->Body(request->Info, success);
    } catch (...) {
        // Whatever broke, the request has failed, and it still ends: its
        // completion is what brings the menu back.
        success = false;
    }
    try {
        // Wait until the completion has run on the user-interface thread.
        fw::Synchronize([&] {
            if (request->Proc) request->Proc(request->Info, success);
        });
    } catch (...) { // NOLINT(bugprone-empty-catch)
        // A completion's exception comes back here and ends this worker silently.
    }
    return 0;
}

} // namespace

void TVPNInfo::StartRequest(bool AConnect, const TConnectionProc& AProc) const
{
    auto request = std::make_unique<TRequest>(
        TRequest{.Info = *this, .Proc = AProc, .Body = AConnect ? ConnectWorker : DisconnectWorker});
    fw::TKernelHandle thread(fw::Services().StartThread(RequestThread, request.get(), CREATE_SUSPENDED));
    if (!thread) fw::RaiseLastOSError();
    if (ResumeThread(thread.Get()) == static_cast<DWORD>(-1)) {
        // It never ran: end it and keep the request, which is still ours.
        DWORD error = GetLastError();
        TerminateThread(thread.Get(), 0);
        fw::RaiseOSError(error);
    }
    // The thread owns its request from here and frees it when its body returns.
    static_cast<void>(request.release());
}

// ---- TVPNManager ----

TVPNManager::TVPNManager()
{
    Refresh();
}

TVPNInfo TVPNManager::GetItems(int AIndex) const
{
    if (AIndex < 0 || AIndex >= Count()) {
        TVPNInfo empty;
        empty.Clear();
        return empty;
    }
    return FVPNList[static_cast<size_t>(AIndex)];
}

void TVPNManager::Refresh()
{
    FVPNList.clear();
    for (const RasApi::TRasEntryNameW& record : RasApi::EnumEntries()) {
        std::wstring name = RasApi::FieldText(record.szEntryName);
        std::wstring query(fw::Trim(name));

        DWORD size = 0;
        if (RasApi::RasGetEntryPropertiesW(nullptr, query.c_str(), nullptr, &size, nullptr, nullptr) !=
            RasApi::ERROR_BUFFER_TOO_SMALL)
            continue;
        // The size the service asked for is not trusted: we know our record.
        size = sizeof(RasApi::RASENTRYW);
        RasApi::RASENTRYW entry{};
        entry.dwSize = sizeof(entry);
        if (RasApi::RasGetEntryPropertiesW(nullptr, query.c_str(), &entry, &size, nullptr, nullptr) != 0) continue;
        if (entry.dwType != RasApi::RASET_Vpn) continue;
        FVPNList.push_back(TVPNInfo::Create(this, name));
    }
}

std::wstring TVPNManager::GetConnectedName()
{
    for (const RasApi::TRasConnW& connection : RasApi::EnumConnections()) {
        if (!connection.hrasconn) continue;
        RasApi::RASCONNSTATUSW status{};
        status.dwSize = sizeof(status);
        if (RasApi::RasGetConnectStatusW(connection.hrasconn, &status) == 0 &&
            status.rasconnstate == RasApi::RASCS_Connected)
            return RasApi::FieldText(connection.szEntryName);
    }
    return {};
}

void TVPNManager::OpenCPL() const
{
    // The shell may hand the request to an extension that needs COM.
    fw::NeedCom();
    ShellExecuteW(nullptr, L"open", L"ms-settings:network-vpn", nullptr, nullptr, SW_SHOWNORMAL);
}

} // namespace NetVPNWin
