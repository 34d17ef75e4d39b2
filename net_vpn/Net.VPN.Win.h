#pragma once
// The user's VPN entries, read once from the phonebook, and the operations
// on one entry: whether it is connected, connect and disconnect on a worker
// thread of their own, hang-ups.
#include <concepts>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "net_vpn/RasApi.h"

namespace NetVPNWin {

class TLineWait;

class TVPNManager {
public:
    // One VPN entry: a plain value that carries its entry's operations.
    class TVPNInfo {
    public:
        // The completion of a request: called once on the user-interface
        // thread with the worker's copy of the entry and whether it worked.
        // Reference-counted (atomically), so the last reference may be
        // dropped on the worker thread.
        class TConnectionProc {
        public:
            TConnectionProc() = default;
            TConnectionProc(std::nullptr_t) {}
            template <std::invocable<const TVPNInfo&, bool> F>
            TConnectionProc(F AFn)
                : FFn(std::make_shared<const std::function<void(const TVPNInfo&, bool)>>(std::move(AFn)))
            {
            }
            explicit operator bool() const noexcept { return FFn != nullptr; }
            void operator()(const TVPNInfo& AInfo, bool ASuccess) const { (*FFn)(AInfo, ASuccess); }

        private:
            std::shared_ptr<const std::function<void(const TVPNInfo&, bool)>> FFn;
        };

        TVPNInfo() = default;
        static TVPNInfo Create(const TVPNManager* AManager, const std::wstring& AName);
        void Clear() { FName.clear(); }

        // Start a request on a worker thread of its own and return at once.
        void Connect(const TConnectionProc& AProc) const;
        void Disconnect(const TConnectionProc& AProc) const;
        // Hang up every active remote-access connection, on this thread, and
        // wait until their lines have closed (10 s at most).
        void DisconnectAll() const;
        // Hang up this entry's connection, on this thread.
        bool ForceDisconnect() const;
        bool IsConnected() const;

        const TVPNManager* FManager = nullptr; // not owned; read by no operation
        std::wstring FName;                    // as the phonebook gives it

    private:
        std::vector<RasApi::TRasConnW> EnumConnections() const;
        RasApi::TRasConnW FindConnection() const;
        void HangUpAll(TLineWait& AWait) const;
        void StartRequest(bool AConnect, const TConnectionProc& AProc) const;
        static void ConnectWorker(const TVPNInfo& AInfo, bool& ASuccess);
        static void DisconnectWorker(const TVPNInfo& AInfo, bool& ASuccess);
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
using TConnectionProc = TVPNInfo::TConnectionProc;

} // namespace NetVPNWin
