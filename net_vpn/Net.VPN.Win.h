#pragma once
// The user's VPN entries, read once from the phonebook, and the queries that
// need no entry.
#include <string>
#include <vector>

namespace NetVPNWin {

class TVPNManager {
public:
    // One VPN entry: a plain value that carries its entry's operations.
    class TVPNInfo {
    public:
        TVPNInfo() = default;
        static TVPNInfo Create(const TVPNManager* AManager, const std::wstring& AName);
        void Clear() { FName.clear(); }

        const TVPNManager* FManager = nullptr; // not owned; read by no operation
        std::wstring FName;                     // as the phonebook gives it
    };

    TVPNManager();
    ~TVPNManager() = default;
    TVPNManager(const TVPNManager&) = delete;
    TVPNManager& operator=(const TVPNManager&) = delete;

    int Count() const noexcept { return static_cast<int>(FVPNList.size()); }
    // A copy of entry AIndex; a cleared record when AIndex is out of range.
    TVPNInfo Items(int AIndex) const { return GetItems(AIndex); }

    // The entry name of the first connected remote-access connection, or empty.
    static std::wstring GetConnectedName();
    // Opens the system's VPN settings page.
    void OpenCPL() const;

private:
    TVPNInfo GetItems(int AIndex) const;
    void Refresh();

    std::vector<TVPNInfo> FVPNList;
};

using TVPNInfo = TVPNManager::TVPNInfo;

} // namespace NetVPNWin
