#include "net_vpn/RasApi.h"

#include <cstdint>
#include <new>

#include "framework/Handles.h"
#include "framework/Modules.h"
#include "framework/Services.h"

namespace RasApi {

namespace {

using TEnumEntries = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, TRasEntryNameW*, LPDWORD, LPDWORD);
using TGetEntryProperties = DWORD(WINAPI*)(LPCWSTR, LPCWSTR, RASENTRYW*, LPDWORD, LPBYTE, LPDWORD);
using TGetEntryDialParams = DWORD(WINAPI*)(LPCWSTR, RASDIALPARAMSW*, LPBOOL);
using TDial = DWORD(WINAPI*)(void*, LPCWSTR, RASDIALPARAMSW*, DWORD, void*, HRASCONN*);
using THangUp = DWORD(WINAPI*)(HRASCONN);
using TEnumConnections = DWORD(WINAPI*)(TRasConnW*, LPDWORD, LPDWORD);
using TGetConnectStatus = DWORD(WINAPI*)(HRASCONN, RASCONNSTATUSW*);

// The library is loaded on first use, from system32 only.
struct TBound {
    fw::TModuleHandle Module = fw::LoadSystemLibrary(L"rasapi32.dll");

    template <typename T>
    T Proc(const char* AName) const noexcept
    {
        return fw::GetProc<T>(Module.Get(), AName);
    }

    TEnumEntries EnumEntries = Proc<TEnumEntries>("RasEnumEntriesW");
    TGetEntryProperties GetEntryProperties = Proc<TGetEntryProperties>("RasGetEntryPropertiesW");
    TGetEntryDialParams GetEntryDialParams = Proc<TGetEntryDialParams>("RasGetEntryDialParamsW");
    TDial Dial = Proc<TDial>("RasDialW");
    THangUp HangUp = Proc<THangUp>("RasHangUpW");
    TEnumConnections EnumConnections = Proc<TEnumConnections>("RasEnumConnectionsW");
    TGetConnectStatus GetConnectStatus = Proc<TGetConnectStatus>("RasGetConnectStatusW");
};

const TBound& Bound()
{
    // Never destroyed: a worker may still call the service while the process ends.
    static const TBound* const bound = new TBound;
    return *bound;
}

template <typename TFn, typename... TArgs>
DWORD CallBound(TFn AFn, TArgs... AArgs)
{
    return AFn ? AFn(AArgs...) : ERROR_PROC_NOT_FOUND;
}

class TSystemBinding final : public TBinding {
public:
    DWORD EnumEntries(LPCWSTR AReserved, LPCWSTR APhonebook, TRasEntryNameW* AEntries, LPDWORD ASize,
                      LPDWORD ACount) const override
    {
        return CallBound(Bound().EnumEntries, AReserved, APhonebook, AEntries, ASize, ACount);
    }
    DWORD GetEntryProperties(LPCWSTR APhonebook, LPCWSTR AEntry, RASENTRYW* AEntryInfo, LPDWORD ASize,
                             LPBYTE ADeviceInfo, LPDWORD ADeviceInfoSize) const override
    {
        return CallBound(Bound().GetEntryProperties, APhonebook, AEntry, AEntryInfo, ASize, ADeviceInfo,
                         ADeviceInfoSize);
    }
    DWORD GetEntryDialParams(LPCWSTR APhonebook, RASDIALPARAMSW* AParams, LPBOOL AHasPassword) const override
    {
        return CallBound(Bound().GetEntryDialParams, APhonebook, AParams, AHasPassword);
    }
    DWORD Dial(void* AExtensions, LPCWSTR APhonebook, RASDIALPARAMSW* AParams, DWORD ANotifierType, void* ANotifier,
               HRASCONN* AConnection) const override
    {
        return CallBound(Bound().Dial, AExtensions, APhonebook, AParams, ANotifierType, ANotifier, AConnection);
    }
    DWORD HangUp(HRASCONN AConnection) const override { return CallBound(Bound().HangUp, AConnection); }
    DWORD EnumConnections(TRasConnW* AConnections, LPDWORD ASize, LPDWORD ACount) const override
    {
        return CallBound(Bound().EnumConnections, AConnections, ASize, ACount);
    }
    DWORD GetConnectStatus(HRASCONN AConnection, RASCONNSTATUSW* AStatus) const override
    {
        return CallBound(Bound().GetConnectStatus, AConnection, AStatus);
    }
};

// A call of the binding in the services; a program that bound none has no service.
template <typename TMethod, typename... TArgs>
DWORD CallService(TMethod AMethod, TArgs... AArgs)
{
    const TBinding* binding = fw::Services().RemoteAccess;
    return binding ? (binding->*AMethod)(AArgs...) : ERROR_PROC_NOT_FOUND;
}

// Far more phonebook entries or connections than any system holds: a larger
// count is a broken answer, not a list to allocate.
constexpr DWORD KMaxRecords = 65536;
// A list that still grows after this many new tries is given up until the next call.
constexpr int KGrowthRetries = 3;

// An answer is believed only if its count is sane and its size has room for
// that many records of ours (the service's newer records are larger, never smaller).
template <typename TRecord>
bool Plausible(DWORD ASize, DWORD ACount) noexcept
{
    return ACount <= KMaxRecords && std::uint64_t{ACount} * sizeof(TRecord) <= ASize;
}

template <typename TRecord, typename TEnum>
std::vector<TRecord> TwoCallEnumeration(TEnum AEnum)
{
    DWORD size = 0;
    DWORD count = 0;
    DWORD result = AEnum(nullptr, &size, &count);
    // A 603 from the second call means the list grew in between; it brings the new count.
    for (int retries = 0; result == ERROR_BUFFER_TOO_SMALL; ++retries) {
        if (count == 0 || !Plausible<TRecord>(size, count) || retries > KGrowthRetries) return {};
        std::vector<TRecord> records;
        try {
            records.resize(count);
        } catch (const std::bad_alloc&) {
            // The poll runs on the user-interface thread, where this would
            // become an error box; it is a failed call like any other.
            return {};
        }
        records[0].dwSize = sizeof(TRecord);
        size = static_cast<DWORD>(count * sizeof(TRecord));
        result = AEnum(records.data(), &size, &count);
        if (result == 0) return records;
    }
    return {};
}

} // namespace

const TBinding& SystemBinding()
{
    // Never destroyed, as the services that hold it; the library is bound on first call.
    static const TBinding* const binding = new TSystemBinding;
    return *binding;
}

DWORD RasEnumEntriesW(LPCWSTR AReserved, LPCWSTR APhonebook, TRasEntryNameW* AEntries, LPDWORD ASize, LPDWORD ACount)
{
    return CallService(&TBinding::EnumEntries, AReserved, APhonebook, AEntries, ASize, ACount);
}

DWORD RasGetEntryPropertiesW(LPCWSTR APhonebook, LPCWSTR AEntry, RASENTRYW* AEntryInfo, LPDWORD ASize,
                             LPBYTE ADeviceInfo, LPDWORD ADeviceInfoSize)
{
    return CallService(&TBinding::GetEntryProperties, APhonebook, AEntry, AEntryInfo, ASize, ADeviceInfo,
                       ADeviceInfoSize);
}

DWORD RasGetEntryDialParamsW(LPCWSTR APhonebook, RASDIALPARAMSW* AParams, LPBOOL AHasPassword)
{
    return CallService(&TBinding::GetEntryDialParams, APhonebook, AParams, AHasPassword);
}

DWORD RasDialW(void* AExtensions, LPCWSTR APhonebook, RASDIALPARAMSW* AParams, DWORD ANotifierType, void* ANotifier,
               HRASCONN* AConnection)
{
    return CallService(&TBinding::Dial, AExtensions, APhonebook, AParams, ANotifierType, ANotifier, AConnection);
}

DWORD RasHangUpW(HRASCONN AConnection)
{
    return CallService(&TBinding::HangUp, AConnection);
}

DWORD RasEnumConnectionsW(TRasConnW* AConnections, LPDWORD ASize, LPDWORD ACount)
{
    return CallService(&TBinding::EnumConnections, AConnections, ASize, ACount);
}

DWORD RasGetConnectStatusW(HRASCONN AConnection, RASCONNSTATUSW* AStatus)
{
    return CallService(&TBinding::GetConnectStatus, AConnection, AStatus);
}

std::vector<TRasEntryNameW> EnumEntries()
{
    return TwoCallEnumeration<TRasEntryNameW>([](TRasEntryNameW* AArray, LPDWORD ASize, LPDWORD ACount) {
        return RasEnumEntriesW(nullptr, nullptr, AArray, ASize, ACount);
    });
}

std::vector<TRasConnW> EnumConnections()
{
    return TwoCallEnumeration<TRasConnW>(RasEnumConnectionsW);
}

} // namespace RasApi
