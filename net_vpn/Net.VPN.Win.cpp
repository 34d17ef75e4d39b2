#include "net_vpn/Net.VPN.Win.h"

#include <windows.h>
#include <shellapi.h>

#include "net_vpn/RasApi.h"

namespace NetVPNWin {

namespace {

std::wstring TrimControl(const std::wstring& AText)
{
    size_t first = 0, last = AText.size();
    while (first < last && AText[first] <= L' ') ++first;
    while (last > first && AText[last - 1] <= L' ') --last;
    return AText.substr(first, last - first);
}

} // namespace

TVPNInfo TVPNInfo::Create(const TVPNManager* AManager, const std::wstring& AName)
{
    TVPNInfo info;
    info.FManager = AManager;
    info.FName = AName;
    return info;
}

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
        std::wstring query = TrimControl(name);

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
    ShellExecuteW(nullptr, L"open", L"ms-settings:network-vpn", nullptr, nullptr, SW_SHOWNORMAL);
}

} // namespace NetVPNWin
