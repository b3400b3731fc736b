#pragma once
#include <memory>
#include <shared_mutex>

#include "Marl/Base/Export.h"
#include "Marl/Base/Singleton.h"
#include "OstraPlatform/Managers.h"

namespace dam {

// The host's platform managers; reached through Marl::Base::CSingleton. Each may be empty.
class MARL_API CIInterfaceManager {
public:
    // assumed: const on the five getters.
    std::shared_ptr<OstraPlatform::IDeviceManager> GetDeviceManager() const;
    std::shared_ptr<OstraPlatform::IAreaManager> GetAreaManager() const;
    std::shared_ptr<OstraPlatform::IUserSessionManager> GetUserSessionManager() const;
    std::shared_ptr<OstraPlatform::IWriteOperationLog> GetWriteOperationLog() const;
    std::shared_ptr<OstraPlatform::ICapactityManager> GetCapacityManager() const;

    // Host side.
    void SetDeviceManager(std::shared_ptr<OstraPlatform::IDeviceManager> manager);
    void SetAreaManager(std::shared_ptr<OstraPlatform::IAreaManager> manager);
    void SetUserSessionManager(std::shared_ptr<OstraPlatform::IUserSessionManager> manager);
    void SetWriteOperationLog(std::shared_ptr<OstraPlatform::IWriteOperationLog> writer);
    void SetCapacityManager(std::shared_ptr<OstraPlatform::ICapactityManager> manager);
    void Clear();

private:
    // Read on every event by the plug-in's threads at once; written only when the host sets up.
    mutable std::shared_mutex m_mutex;
    std::shared_ptr<OstraPlatform::IDeviceManager> m_deviceManager;
    std::shared_ptr<OstraPlatform::IAreaManager> m_areaManager;
    std::shared_ptr<OstraPlatform::IUserSessionManager> m_userSessionManager;
    std::shared_ptr<OstraPlatform::IWriteOperationLog> m_operationLog;
    std::shared_ptr<OstraPlatform::ICapactityManager> m_capacityManager;
};

} // namespace dam
