#include "Communication/ModbusComm/TCPConnManager/TcpClientHandle.h"

#include "Communication/ModbusComm/TCP/TcpClientManager.h"

namespace iobox {

using Marl::Net::CTcpClientManager;

bool TcpClientHandle::Connect(const Marl::Net::TcpConnectParam& param)
{
    if (m_id.load() >= 0) {
        return true;
    }
    const int id = CTcpClientManager::Instance()->Connect(param);
    if (id < 0) {
        return false;
    }
    m_id.store(id);
    return true;
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
