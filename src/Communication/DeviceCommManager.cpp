#include "Communication/DeviceCommManager.h"

#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"

namespace iobox {

CDeviceCommManager* CDeviceCommManager::Instance() { return LazySingleton<CDeviceCommManager>::Instance(); }

bool CDeviceCommManager::Init()
{
    auto proxy = std::make_shared<CSPDeviceCommProxy>(kAccessProtocolModbus);
    CTCPConnMgr::Instance()->Reopen(); // after a Unit, logins are accepted again
    std::lock_guard<std::mutex> lock(m_mutex);
    m_proxies.emplace(kAccessProtocolModbus, std::move(proxy));
    return true;
}

bool CDeviceCommManager::UnInit()
{
    std::map<int, std::shared_ptr<CSPDeviceCommProxy>> proxies;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        proxies.swap(m_proxies);
    }
    proxies.clear(); // outside the lock: a proxy may be the last owner of what it reaches
    // No new login finds a proxy now; the connections made so far end here.
    CTCPConnMgr::Instance()->Shutdown();
    return true;
}

bool CDeviceCommManager::GetDeviceCommByDevice(std::shared_ptr<CSPDeviceCommProxy>& proxy,
                                               std::shared_ptr<dam::IDevice> device)
{
    if (!device) {
        IOBOX_LOG(5, "iobox::CDeviceCommManager::GetDeviceCommByDevice", "device ptr is null");
        return false;
    }
    const int protocol = device->GetAccessProtocol();
    if (protocol != kAccessProtocolModbus) {
        IOBOX_LOG(5, "iobox::CDeviceCommManager::GetDeviceCommByDevice", "Access Protocol Type is %d", protocol);
        return false;
    }
    // Outside Init..UnInit the answer is true with an empty proxy; GetCommPtr turns that into
    // a failure. The lookup does not insert: host threads only ever read the table.
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_proxies.find(protocol);
    proxy = it == m_proxies.end() ? nullptr : it->second;
    return true;
}

} // namespace iobox
