#pragma once
#include <ctime>
#include <memory>
#include <string>

#include "Marl/Base/Export.h"
#include "OstraPlatform/Content.h"
#include "OstraPlatform/PlatformCodes.h"
#include "dam/Device.h"
#include "dam/Event.h"

namespace OstraPlatform {

// Device-status notification: a device went offline (DEVICE_STATUS_OFFLINE) or came back
// (DEVICE_STATUS_ONLINE).
struct DeviceStatusInfo {
    int device_id = 0; // the device handle the host gave at MapLoginHandle
    int status_code = 0;
    int reserved = 0;
    int extra = 0;
};

// assumed: the slot order of every interface here, the integer types the host leaves open, the
// status notification's name and parameters, and the destructors.
class MARL_API IDeviceManager {
public:
    virtual std::shared_ptr<dam::IDevice> GetDevice(unsigned int deviceId, int category) = 0;
    virtual std::shared_ptr<dam::IDevice> GetDeviceByGuid(const std::string& guid) = 0;
    virtual bool DeleteDeviceByID(unsigned int deviceId, int category) = 0;
    virtual bool GetEventRelatedChannel(std::shared_ptr<dam::CEventChannelInfo>& info,
                                        std::shared_ptr<dam::IDevice> device, int channelType, int channelNo) = 0;
    virtual bool GetEventTimeInfo(std::shared_ptr<dam::CEventTimeInfo>& info, std::shared_ptr<dam::IDevice> device,
                                  time_t time) = 0;
    virtual bool IsDebugMode() = 0;
    // msgType DEVICE_STATUS_MSG_TYPE carries a DeviceStatusInfo.
    virtual bool NotifyDeviceStatus(unsigned int msgType, const void* message) = 0;
    virtual ~IDeviceManager();
};

class MARL_API IArea { // assumed: the type's name
public:
    virtual int GetAreaID() = 0;
    virtual std::string GetAreaName() = 0;
    virtual ~IArea();
};

class MARL_API IAreaManager {
public:
    virtual std::shared_ptr<IArea> GetChannelArea(unsigned int channelId, int channelType) = 0;
    virtual ~IAreaManager();
};

class MARL_API IUserSessionManager {
public:
    virtual bool EncryptBySession(std::string& out, const std::string& plain, const std::string& userSession,
                                  bool flag) = 0;
    virtual ~IUserSessionManager();
};

class MARL_API IWriteOperationLog {
public:
    virtual void WriteOperationLog(const std::string& userSession, unsigned int type, unsigned int deviceId,
                                   const std::string& deviceName, bool flag, int value1, int value2,
                                   const std::string& text) = 0;
    virtual ~IWriteOperationLog();
};

class MARL_API ICapactityManager {
public:
    virtual bool NotifyEvent(unsigned int eventType, unsigned int sourceType, unsigned int sourceId,
                             const std::shared_ptr<CBaseContent>& content, const std::string& origin,
                             unsigned int user) = 0;
    virtual ~ICapactityManager();
};

} // namespace OstraPlatform
