#include "Communication/ModbusComm/TCPConnManager/TcpClientHandle.h"

#include "Communication/ModbusComm/TCP/TcpClientManager.h"

namespace iobox {

using Marl::Net::CTcpClientManager;

bool TcpClientHandle::Connect(const Marl::Net::TcpConnectParam& param)
{
    if (m_id.load() >= 0) {
        return true;
    }
    {
        std::lock_guard<std::mutex> lock(m_abortMutex);
        if (m_aborted) {
            return false;
        }
    }
    const int id = CTcpClientManager::Instance()->Connect(param, [this](const std::shared_ptr<Marl::Net::CTCPClient>& client) {
        std::lock_guard<std::mutex> lock(m_abortMutex);
        m_connecting = client;
        if (m_aborted) {
            client->Abort();
        }
    });
    std::shared_ptr<Marl::Net::CTCPClient> connected; // a failed client goes outside the lock
    std::lock_guard<std::mutex> lock(m_abortMutex);
    connected.swap(m_connecting);
    if (id < 0) {
        return false;
    }
    m_id.store(id);
    return true;
}

void TcpClientHandle::Abort()
{
    std::shared_ptr<Marl::Net::CTCPClient> connecting;
    int id = -1;
    {
        std::lock_guard<std::mutex> lock(m_abortMutex);
        m_aborted = true;
        connecting = m_connecting;
        id = m_id.load();
    }
    if (connecting) {
        connecting->Abort();
    }
    if (id >= 0) {
        CTcpClientManager::Instance()->Abort(id);
    }
}

bool TcpClientHandle::Reconnect()
{
    const int id = m_id.load();
    return id >= 0 && CTcpClientManager::Instance()->Reconnect(id);
}

bool TcpClientHandle::Close()
{
    const int id = m_id.load();
    return id >= 0 && CTcpClientManager::Instance()->Close(id);
}

bool TcpClientHandle::IsConnected()
{
    const int id = m_id.load();
    return id >= 0 && CTcpClientManager::Instance()->IsConnected(id);
}

void TcpClientHandle::Disconnect()
{
    const int id = m_id.exchange(-1);
    if (id >= 0) {
        CTcpClientManager::Instance()->Disconnect(id);
    }
}

bool TcpClientHandle::SendDataByHeadSticky(Marl::Net::StickyParam& sticky, const std::string& data)
{
    return CTcpClientManager::Instance()->SendData(sticky, data, m_id.load()) == 0;
}

bool TcpClientHandle::SendDataNoReceive(const std::string& data)
{
    return CTcpClientManager::Instance()->SendDataNoReceive(data, m_id.load()) == 0;
}

} // namespace iobox
