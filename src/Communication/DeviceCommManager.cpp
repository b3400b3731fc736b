#include "Communication/DeviceCommManager.h"

namespace iobox {

CDeviceCommManager* CDeviceCommManager::Instance() { return LazySingleton<CDeviceCommManager>::Instance(); }

bool CDeviceCommManager::Init()
{
    m_proxies.emplace(kAccessProtocolModbus, std::make_shared<CSPDeviceCommProxy>(kAccessProtocolModbus));
    return true;
}

bool CDeviceCommManager::UnInit()
{
    m_proxies.clear();
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
    auto it = m_proxies.find(protocol);
    proxy = it == m_proxies.end() ? nullptr : it->second;
    return true;
}

} // namespace iobox
