#pragma once
// The process-wide table of TCP clients by id. Ids start at 1, are never reused, and -1
// stands for no client. The lock covers only lookups and changes of the table: connects,
// exchanges and closes run on the caller's thread after it is released.
#include <atomic>
#include <functional>
#include <unordered_map>
#include <memory>
#include <mutex>
#include <string>

#include "Common/LazySingleton.h"
#include "Communication/ModbusComm/TCP/TCPClient.h"
#include "Marl/Base/Noncopyable.h"

namespace Marl { namespace Net {

class CTcpClientManager : public Marl::Base::CNoncopyable {
public:
    static CTcpClientManager* Instance();

    using ClientCreated = std::function<void(const std::shared_ptr<CTCPClient>&)>;

    // A new connected client's id, or -1 (bad parameters or failed connect). created, when
    // given, sees the client before its connect starts, so that its caller can abort it.
    int Connect(const TcpConnectParam& param, const ClientCreated& created = nullptr);
    // Connects an existing client again; true when it is connected.
    bool Reconnect(int clientId);
    // Closes the client's sockets but keeps it for a later Reconnect.
    bool Close(int clientId);
    // Removes the client and closes its sockets.
    bool Disconnect(int clientId);
    bool IsConnected(int clientId);
    // The client's Abort: whatever it waits for ends at once; true when the client exists.
    bool Abort(int clientId);
    int SendDataNoReceive(const std::string& data, int clientId);
    // End-flag framing for mode 1, head-length framing otherwise.
    int SendData(StickyParam& sticky, const std::string& data, int clientId);

    // Called when the connection manager is left in memory at unload with connections that
    // were never stopped: their clients stay in use, so this table stays too.
    static void KeepAtUnload() { s_keptAtUnload.store(true); }
    static bool IsKeptAtUnload() { return s_keptAtUnload.load(); }

    ~CTcpClientManager() = default;

private:
    friend class iobox::LazySingleton<CTcpClientManager>;
    CTcpClientManager() = default;

    std::shared_ptr<CTCPClient> Find(int clientId);

    std::unordered_map<int, std::shared_ptr<CTCPClient>> m_clients; // every exchange looks its client up
    int m_lastId = 0;
    std::mutex m_mutex;
    static std::atomic<bool> s_keptAtUnload;
};

inline bool KeptAtUnload(const CTcpClientManager&) { return CTcpClientManager::IsKeptAtUnload(); }

}} // namespace Marl::Net
