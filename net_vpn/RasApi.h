#pragma once
// The remote-access service's records and the seven functions the program
// calls, reached through the binding in the services (framework/Services.h):
// the system's, bound at run time from the system folder only, where a missing
// library or function answers like a failed call (ERROR_PROC_NOT_FOUND).
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace RasApi {

constexpr DWORD ERROR_BUFFER_TOO_SMALL = 603;
constexpr DWORD RASET_Vpn = 2;
constexpr DWORD RASCS_Connected = 0x2000;
constexpr int RAS_MaxEntryName = 256;
constexpr int RAS_MaxPhoneNumber = 128;
constexpr int RAS_MaxCallbackNumber = RAS_MaxPhoneNumber;
constexpr int UNLEN = 256;
constexpr int PWLEN = 256;
constexpr int DNLEN = 15;
constexpr int RAS_MaxDeviceType = 16;
constexpr int RAS_MaxDeviceName = 128;

using HRASCONN = HANDLE;

// The service's published header packs its records to 4 bytes: an 8-byte
// member may sit at an offset that is only a multiple of 4.
#pragma pack(push, 4)

// The oldest version: no dwFlags, no szPhonebookPath.
struct TRasEntryNameW {
    DWORD dwSize;
    WCHAR szEntryName[RAS_MaxEntryName + 1];
};

// The version that ends with dwVpnStrategy. Only dwType is read; the rest
// is laid out as a byte block of the right size.
struct RASENTRYW {
    DWORD dwSize;
    BYTE reserved1[3496 - 4];
    DWORD dwType;
    BYTE reserved2[4048 - 3500];
};

// The version with dwSubEntry and an 8-byte dwCallbackId, without dwIfIndex.
struct RASDIALPARAMSW {
    DWORD dwSize;
    WCHAR szEntryName[RAS_MaxEntryName + 1];
    WCHAR szPhoneNumber[RAS_MaxPhoneNumber + 1];
    WCHAR szCallbackNumber[RAS_MaxCallbackNumber + 1];
    WCHAR szUserName[UNLEN + 1];
    WCHAR szPassword[PWLEN + 1];
    WCHAR szDomain[DNLEN + 1];
    DWORD dwSubEntry;
    ULONG_PTR dwCallbackId;
};

// The version that ends with guidCorrelationId.
struct TRasConnW {
    DWORD dwSize;
    HRASCONN hrasconn;
    WCHAR szEntryName[RAS_MaxEntryName + 1];
    WCHAR szDeviceType[RAS_MaxDeviceType + 1];
    WCHAR szDeviceName[RAS_MaxDeviceName + 1];
    WCHAR szPhonebook[MAX_PATH];
    DWORD dwSubEntry;
    GUID guidEntry;
    DWORD dwFlags;
    LUID luid;
    GUID guidCorrelationId;
};

// The oldest version.
struct RASCONNSTATUSW {
    DWORD dwSize;
    DWORD rasconnstate;
    DWORD dwError;
    WCHAR szDeviceType[RAS_MaxDeviceType + 1];
    WCHAR szDeviceName[RAS_MaxDeviceName + 1];
};

#pragma pack(pop)

static_assert(sizeof(TRasEntryNameW) == 520 && offsetof(TRasEntryNameW, szEntryName) == 4);
static_assert(sizeof(RASENTRYW) == 4048 && offsetof(RASENTRYW, dwType) == 3496);
static_assert(sizeof(RASDIALPARAMSW) == 2108 && offsetof(RASDIALPARAMSW, szEntryName) == 4 &&
              offsetof(RASDIALPARAMSW, dwCallbackId) == 2100);
static_assert(sizeof(TRasConnW) == 1388 && offsetof(TRasConnW, hrasconn) == 4 &&
              offsetof(TRasConnW, szEntryName) == 12);
static_assert(sizeof(RASCONNSTATUSW) == 304 && offsetof(RASCONNSTATUSW, rasconnstate) == 4);

// The service's seven functions, as one binding.
class TBinding {
public:
    TBinding() = default;
    virtual ~TBinding() = default;
    TBinding(const TBinding&) = delete;
    TBinding& operator=(const TBinding&) = delete;
    TBinding(TBinding&&) = delete;
    TBinding& operator=(TBinding&&) = delete;

    virtual DWORD EnumEntries(LPCWSTR AReserved, LPCWSTR APhonebook, TRasEntryNameW* AEntries, LPDWORD ASize,
                              LPDWORD ACount) const = 0;
    virtual DWORD GetEntryProperties(LPCWSTR APhonebook, LPCWSTR AEntry, RASENTRYW* AEntryInfo, LPDWORD ASize,
                                     LPBYTE ADeviceInfo, LPDWORD ADeviceInfoSize) const = 0;
    virtual DWORD GetEntryDialParams(LPCWSTR APhonebook, RASDIALPARAMSW* AParams, LPBOOL AHasPassword) const = 0;
    virtual DWORD Dial(void* AExtensions, LPCWSTR APhonebook, RASDIALPARAMSW* AParams, DWORD ANotifierType,
                       void* ANotifier, HRASCONN* AConnection) const = 0;
    virtual DWORD HangUp(HRASCONN AConnection) const = 0;
    virtual DWORD EnumConnections(TRasConnW* AConnections, LPDWORD ASize, LPDWORD ACount) const = 0;
    virtual DWORD GetConnectStatus(HRASCONN AConnection, RASCONNSTATUSW* AStatus) const = 0;
};

// The system's service, loaded on first use from the system folder only, so a
// DLL planted beside the executable can never stand in for it.
const TBinding& SystemBinding();

// The functions of the binding in the services; with none there, each answers
// ERROR_PROC_NOT_FOUND.
DWORD RasEnumEntriesW(LPCWSTR AReserved, LPCWSTR APhonebook, TRasEntryNameW* AEntries, LPDWORD ASize, LPDWORD ACount);
DWORD RasGetEntryPropertiesW(LPCWSTR APhonebook, LPCWSTR AEntry, RASENTRYW* AEntryInfo, LPDWORD ASize,
                             LPBYTE ADeviceInfo, LPDWORD ADeviceInfoSize);
DWORD RasGetEntryDialParamsW(LPCWSTR APhonebook, RASDIALPARAMSW* AParams, LPBOOL AHasPassword);
DWORD RasDialW(void* AExtensions, LPCWSTR APhonebook, RASDIALPARAMSW* AParams, DWORD ANotifierType, void* ANotifier,
               HRASCONN* AConnection);
DWORD RasHangUpW(HRASCONN AConnection);
DWORD RasEnumConnectionsW(TRasConnW* AConnections, LPDWORD ASize, LPDWORD ACount);
DWORD RasGetConnectStatusW(HRASCONN AConnection, RASCONNSTATUSW* AStatus);

// The two-call enumerations: every record the service listed, unfilled ones
// zero. A list that grew between the calls is asked for again, a few times.
// Empty when a call fails or answers a count or size that cannot be right.
std::vector<TRasEntryNameW> EnumEntries();
std::vector<TRasConnW> EnumConnections();

// A name field up to its first NUL, at most the field's 257 units.
template <size_t N>
std::wstring FieldText(const WCHAR (&AField)[N])
{
    size_t n = 0;
    while (n < N && AField[n] != L'\0') ++n;
    return std::wstring(AField, n);
}

} // namespace RasApi
