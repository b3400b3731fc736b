#pragma once
#include <map>
#include <memory>
#include <mutex>

#include "Common/LazySingleton.h"
#include "Communication/DeviceCommProxy.h"
#include "Marl/Base/Noncopyable.h"

namespace iobox {

// Picks a device's communication proxy by its access protocol. Init and UnInit write the
// table on the host's thread; host threads read it at any time, under the same lock.
class CDeviceCommManager : public Marl::Base::CNoncopyable {
public:
    static CDeviceCommManager* Instance();

    bool Init();
    // Takes the proxies away, then logs out every connection still logged in and joins the
    // poll threads (the communication ends with its manager), each wait bounded.
    bool UnInit();
    bool GetDeviceCommByDevice(std::shared_ptr<CSPDeviceCommProxy>& proxy, std::shared_ptr<dam::IDevice> device);

private:
    friend class LazySingleton<CDeviceCommManager>;
    CDeviceCommManager() = default;

    std::mutex m_mutex; // guards m_proxies
    std::map<int, std::shared_ptr<CSPDeviceCommProxy>> m_proxies;
};

} // namespace iobox
