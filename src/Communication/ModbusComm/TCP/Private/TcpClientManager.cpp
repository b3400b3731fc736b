#include "Communication/ModbusComm/TCP/TcpClientManager.h"

#include <exception>

#include "Common/Log.h"

namespace Marl { namespace Net {

std::atomic<bool> CTcpClientManager::s_keptAtUnload{false};

CTcpClientManager* CTcpClientManager::Instance() { return iobox::LazySingleton<CTcpClientManager>::Instance(); }

int CTcpClientManager::Connect(const TcpConnectParam& param, const ClientCreated& created)
{
    if (param.ip.empty() || param.port == 0) {
        IOBOX_LOG(4, "Marl::Net::CTcpClientManager::Connect", "network,param err, ip[%s], port[%d]", param.ip.c_str(),
                  static_cast<int>(param.port));
        return -1;
    }
    try {
        int clientId = -1;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            clientId = ++m_lastId;
        }
        auto client = std::make_shared<CTCPClient>(param);
        if (created) {
            created(client);
        }
        if (client->Connect() == 0) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_clients[clientId] = client;
            return clientId;
        }
        if (client->Aborted()) {
            return -1; // cut short by a stop, which the client does not log either
        }
    } catch (const std::exception&) {
        // Out of memory: reported as a failed connect below.
    }
    IOBOX_LOG(4, "Marl::Net::CTcpClientManager::Connect", "network,connect err,ip[%s], port[%d]", param.ip.c_str(),
              static_cast<int>(param.port));
    return -1;
}

std::shared_ptr<CTCPClient> CTcpClientManager::Find(int clientId)
{
    if (clientId < 0) {
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_clients.find(clientId);
    return it == m_clients.end() ? nullptr : it->second;
}

bool CTcpClientManager::Reconnect(int clientId)
{
    const auto client = Find(clientId);
    return client && client->Connect() == 0;
}

bool CTcpClientManager::Close(int clientId)
{
    const auto client = Find(clientId);
    if (!client) {
        return false;
    }
    client->Disconnect();
    return true;
}

bool CTcpClientManager::Disconnect(int clientId)
{
    if (clientId < 0) {
        return false;
    }
    std::shared_ptr<CTCPClient> client;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const auto it = m_clients.find(clientId);
        if (it == m_clients.end()) {
            return false;
        }
        client = std::move(it->second);
        m_clients.erase(it);
    }
    if (!client) {
        return false;
    }
    client->Disconnect();
    return true;
}

bool CTcpClientManager::IsConnected(int clientId)
{
    const auto client = Find(clientId);
    return client && client->IsConnected();
}

bool CTcpClientManager::Abort(int clientId)
{
    const auto client = Find(clientId);
    if (!client) {
        return false;
    }
    client->Abort();
    return true;
}

int CTcpClientManager::SendDataNoReceive(const std::string& data, int clientId)
{
    const auto client = Find(clientId);
    return client ? client->SendDataNoReceive(data, false) : -1;
}

int CTcpClientManager::SendData(StickyParam& sticky, const std::string& data, int clientId)
{
    const auto client = Find(clientId);
    if (!client) {
        return -1;
    }
    return sticky.mode == kStickyByEnd ? client->SendDataByEndSticky(sticky, data)
                                       : client->SendDataByHeadSticky(sticky, data);
}

}} // namespace Marl::Net
