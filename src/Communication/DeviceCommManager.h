#pragma once
#include <map>
#include <memory>

#include "Common/LazySingleton.h"
#include "Communication/DeviceCommProxy.h"
#include "Marl/Base/Noncopyable.h"

namespace iobox {

// Picks a device's communication proxy by its access protocol. The table is written only by
// Init and Unit, on the host's thread, and read in between; it has no lock.
class CDeviceCommManager : public Marl::Base::CNoncopyable {
public:
    static CDeviceCommManager* Instance();

    bool Init();
    bool UnInit();
    bool GetDeviceCommByDevice(std::shared_ptr<CSPDeviceCommProxy>& proxy, std::shared_ptr<dam::IDevice> device);

private:
    friend class LazySingleton<CDeviceCommManager>;
    CDeviceCommManager() = default;

    std::map<int, std::shared_ptr<CSPDeviceCommProxy>> m_proxies;
};

} // namespace iobox
