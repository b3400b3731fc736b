#include "Operation/Impl/IOBoxCommonOperationImp.h"

#include "Access/CommonHelper/CommonHelper.h"
#include "Common/Constants.h"
#include "Common/Error.h"
#include "Common/Log.h"
#include "Communication/DeviceCommProxy.h"
#include "dam/Feature.h"

namespace iobox {

bool CIOBoxCommonOperaion::GetAlarmOutputStatus(std::vector<std::shared_ptr<dam::CAlarmOutputStatus>>& statuses,
                                                std::shared_ptr<dam::IDevice> device)
{
    return CIOBoxOperationImp::Instance()->GetAlarmOutputStatus(statuses, device);
}

bool CIOBoxCommonOperaion::SetAlarmOutStatus(unsigned int alarmOutputId, unsigned int status,
                                             std::shared_ptr<dam::IDevice> device)
{
    return CIOBoxOperationImp::Instance()->SetAlarmOutStatus(alarmOutputId, status, device);
}

CIOBoxOperationImp* CIOBoxOperationImp::Instance() { return LazySingleton<CIOBoxOperationImp>::Instance(); }

namespace {

// The proxy that serves the device's protocol; null, with the caller's line, when there is none.
std::shared_ptr<CSPDeviceCommProxy> DeviceProxy(const char* func, const std::shared_ptr<dam::IDevice>& device)
{
    if (!device) {
        IOBOX_LOG(5, func, "Device is not Login.");
        return nullptr;
    }
    std::shared_ptr<CSPDeviceCommProxy> proxy;
    if (!CCommonHelper::GetCommPtr(proxy, device) || !proxy) {
        IOBOX_LOG(5, func, "proxy_ptr null, device id = %d", device->GetDeviceID());
        return nullptr;
    }
    return proxy;
}

} // namespace

bool CIOBoxOperationImp::GetAlarmOutputStatus(std::vector<std::shared_ptr<dam::CAlarmOutputStatus>>& statuses,
                                              std::shared_ptr<dam::IDevice> device)
{
    static const char* const kFunc = "iobox::CIOBoxOperationImp::GetAlarmOutputStatus";
    const auto proxy = DeviceProxy(kFunc, device);
    if (!proxy) {
        return false;
    }
    if (!CCommonHelper::GetCommonFeature(device)) {
        IOBOX_LOG(5, kFunc, "common feature null, device id = %d", device->GetDeviceID());
        return false;
    }
    AlarmOutStateMap states;
    if (!proxy->Request_GetAlarmOutState(states, device)) {
        const auto error = Marl::Base::Error::GetLastError();
        IOBOX_LOG(5, kFunc, "request alarmoutput status failed, id=%d error=%d+%d", device->GetDeviceID(),
                  ErrorModuleOf(error), ErrorCodeOf(error));
        // Whatever the map holds is still reported.
    }
    std::vector<dam::AlarmOutputStatus> records;
    MakeAlarmOutputStatus(records, states, kChannelTypeAlarmOutput, device);
    for (const auto& record : records) {
        statuses.push_back(std::make_shared<dam::CAlarmOutputStatus>(record));
    }
    return true;
}

void CIOBoxOperationImp::MakeAlarmOutputStatus(std::vector<dam::AlarmOutputStatus>& out,
                                               const AlarmOutStateMap& states, int channelType,
                                               std::shared_ptr<dam::IDevice> device)
{
    auto feature = CCommonHelper::GetCommonFeature(device);
    if (!feature) {
        return;
    }
    const auto channels = feature->GetChannelsByType(channelType);
    for (const auto& entry : states) {
        for (const auto& channel : channels) {
            if (!channel || !channel->IsType(channelType) || !std::dynamic_pointer_cast<dam::CAlarmOutput>(channel)) {
                continue;
            }
            if (static_cast<unsigned int>(channel->GetNo()) != entry.first) {
                continue;
            }
            const unsigned int id = channel->GetID();
            const unsigned int state = entry.second ? entry.second->GetVal_u_alarmout_state() : 0;
            // By position: the host gives the record's fields in order, not their names.
            out.push_back(dam::AlarmOutputStatus{id, state});
            IOBOX_LOG(3, "iobox::CIOBoxOperationImp::MakeAlarmOutputStatus", "MakeAlarmOutputStatus ao id:%d, ao status = %d",
                      static_cast<int>(id), static_cast<int>(state));
            break;
        }
    }
}

bool CIOBoxOperationImp::SetAlarmOutStatus(unsigned int alarmOutputId, unsigned int status,
                                           std::shared_ptr<dam::IDevice> device)
{
    static const char* const kFunc = "iobox::CIOBoxOperationImp::SetAlarmOutStatus";
    const auto proxy = DeviceProxy(kFunc, device);
    if (!proxy) {
        return false;
    }
    auto output = std::dynamic_pointer_cast<dam::CAlarmOutput>(device->GetChannelByID(alarmOutputId, kChannelTypeAlarmOutput));
    if (!output) {
        IOBOX_LOG(4, kFunc, "Alarm out can not find, id:%d, device guid:%s", static_cast<int>(alarmOutputId),
                  device->GetDeviceGuid().c_str());
        return false;
    }
    if (proxy->Request_SetAlarmOutState(status, static_cast<unsigned int>(output->GetNo()), device)) {
        return true;
    }
    IOBOX_LOG(5, kFunc, "Request_SetAlarmOutState failed.");
    return false;
}

} // namespace iobox
