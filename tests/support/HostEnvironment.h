#pragma once
#include <memory>

#include "OstraPlatform/HostManagers.h"

namespace testsupport {

// Fresh stand-in platform managers installed in the host's interface manager for the life of
// the object; the interface manager is emptied after.
class HostEnvironment {
public:
    HostEnvironment();
    ~HostEnvironment();
    HostEnvironment(const HostEnvironment&) = delete;
    HostEnvironment& operator=(const HostEnvironment&) = delete;

    std::shared_ptr<OstraPlatform::CDeviceManager> deviceManager;
    std::shared_ptr<OstraPlatform::CAreaManager> areaManager;
    std::shared_ptr<OstraPlatform::CUserSessionManager> userSessionManager;
    std::shared_ptr<OstraPlatform::COperationLogWriter> operationLog;
    std::shared_ptr<OstraPlatform::CCapacityManager> capacityManager;
};

} // namespace testsupport
