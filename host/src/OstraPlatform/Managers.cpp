#include "OstraPlatform/Content.h"
#include "OstraPlatform/Managers.h"

namespace OstraPlatform {

CBaseContent::~CBaseContent() = default;
bool CBaseContent::IsValid() { return true; }

IDeviceManager::~IDeviceManager() = default;
IArea::~IArea() = default;
IAreaManager::~IAreaManager() = default;
IUserSessionManager::~IUserSessionManager() = default;
IWriteOperationLog::~IWriteOperationLog() = default;
ICapactityManager::~ICapactityManager() = default;

} // namespace OstraPlatform
