#pragma once
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Marl/Base/Export.h"
#include "Marl/Base/Singleton.h"
#include "dam/Device.h"
#include "dam/Property.h"
#include "proto/IProto.h"

namespace dam {

// State of one alarm output as the device reports it.
class MARL_API CAlarmOutState {
public:
    // assumed: inline accessors by const reference (dam/Property.h).
    virtual ~CAlarmOutState();
    DAM_PROPERTY(unsigned int, u_alarmout_state)
};

// assumed: the fields' names (the host gives their order and types).
struct AlarmOutputStatus {
    unsigned int alarm_output_id = 0; // the host's channel id
    unsigned int status = 0;          // 1 on, 0 off
};

class MARL_API CAlarmOutputStatus {
public:
    explicit CAlarmOutputStatus(const AlarmOutputStatus& status) : m_status(status) {} // assumed: const&, inline
    virtual ~CAlarmOutputStatus();
    unsigned int GetAlarmOutputID() const { return m_status.alarm_output_id; }
    unsigned int GetStatus() const { return m_status.status; }

private:
    AlarmOutputStatus m_status;
};

// Device operations of one device category. Every operation is refused unless overridden.
// The slot order is the host's; assumed: the parameters of every operation but
// GetAlarmOutputStatus and SetAlarmOutStatus, and the destructor after them.
class MARL_API CCommonOperationInterface_Standard {
public:
    using DevicePtr = std::shared_ptr<IDevice>;

    virtual bool ActiveDevice(const std::string& password, DevicePtr device);
    virtual bool ChangePassword(const std::string& oldPassword, const std::string& newPassword, DevicePtr device);
    virtual bool RebootDevice(DevicePtr device);
    virtual bool ReStoreDevice(DevicePtr device);
    virtual bool SetPlatformAddress(const std::string& address, unsigned int port, DevicePtr device);
    virtual bool GetCompanyName(std::string& name, DevicePtr device);
    virtual bool GetAllThirdDeviceCompanyInfo(std::vector<std::string>& companies);
    virtual bool SetDeviceNTPConfig(proto::IProto* config, DevicePtr device);
    virtual bool GetDeviceNTPConfig(proto::IProto* config, DevicePtr device);
    virtual bool SetDeviceZoneAndConfig(proto::IProto* config, DevicePtr device);
    virtual bool GetDeviceZoneAndConfig(proto::IProto* config, DevicePtr device);
    virtual bool GetAlarmOutputStatus(std::vector<std::shared_ptr<CAlarmOutputStatus>>& statuses, DevicePtr device);
    virtual bool SetAlarmOutStatus(unsigned int alarmOutputId, unsigned int status, DevicePtr device);
    virtual bool SynChannelName(DevicePtr device);
    virtual bool ApplyChannelName(DevicePtr device);
    virtual bool CompleteReStoreDevice(DevicePtr device);
    virtual bool SynChannelNameFromDevice(DevicePtr device);
    virtual bool ApplyChannelNameToDevice(DevicePtr device);
    virtual bool SetDeviceTime(time_t time, DevicePtr device);
    virtual bool GetDeviceTime(time_t& time, DevicePtr device);
    virtual bool TesselPassthrough(proto::IProto* request, proto::IProto* response, DevicePtr device);
    virtual bool SearchDeviceLog(proto::IProto* request, proto::IProto* response, DevicePtr device);
    virtual bool SetPictureStorageServer(proto::IProto* config, DevicePtr device);
    virtual bool TestPictureStorageServer(proto::IProto* config, DevicePtr device);
    virtual bool SetAlarmOutputRunningTimes(unsigned int alarmOutputId, unsigned int seconds, DevicePtr device);
    virtual bool RefreshFirmwareCode(DevicePtr device);
    virtual bool GenerateUpdateBaseInfo(proto::IProto* info, DevicePtr device);
    virtual bool SendIndividualCallSignal(unsigned int channelId, DevicePtr device);

    virtual ~CCommonOperationInterface_Standard();
};

// The host's operation interfaces by registration name; reached through CSingleton.
class MARL_API COperationManager {
public:
    bool RegisterOperateManager(const std::string& name, std::shared_ptr<CCommonOperationInterface_Standard> op); // assumed: const std::string&
    std::shared_ptr<CCommonOperationInterface_Standard> GetOperateManager(const std::string& name) const;

    // Host side.
    void SetRefuseRegistration(bool refuse);
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<CCommonOperationInterface_Standard>> m_operations;
    bool m_refuse = false;
};

} // namespace dam
