#include "support/HostEnvironment.h"

#include "Marl/Base/Singleton.h"
#include "dam/InterfaceManager.h"

namespace testsupport {

HostEnvironment::HostEnvironment()
    : deviceManager(std::make_shared<OstraPlatform::CDeviceManager>()),
      areaManager(std::make_shared<OstraPlatform::CAreaManager>()),
      userSessionManager(std::make_shared<OstraPlatform::CUserSessionManager>()),
      operationLog(std::make_shared<OstraPlatform::COperationLogWriter>()),
      capacityManager(std::make_shared<OstraPlatform::CCapacityManager>())
{
    auto* interfaces = Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance();
    interfaces->SetDeviceManager(deviceManager);
    interfaces->SetAreaManager(areaManager);
    interfaces->SetUserSessionManager(userSessionManager);
    interfaces->SetWriteOperationLog(operationLog);
    interfaces->SetCapacityManager(capacityManager);
}

HostEnvironment::~HostEnvironment() { Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance()->Clear(); }

} // namespace testsupport
