#include "EventManager/EventFactory/SPEventFactoryHelper.h"

#include <string>

#include "Common/Log.h"
#include "Marl/Base/Singleton.h"
#include "Marl/Base/TimeUtil.h"
#include "OstraPlatform/Managers.h"
#include "dam/InterfaceManager.h"

namespace iobox {

const char* const kEventBasicInfoPath = "/Event/BasicInfo/";
const char* const kEventTimeInfoPath = "TimeInfo/";

namespace SPEventFactoryHelper {

namespace {

int DeviceId(const std::shared_ptr<dam::IDevice>& device) { return device ? device->GetDeviceID() : -1; }

// The message's document, or empty after the helper's level-4 line for the missing piece.
std::shared_ptr<proto::IProto> DocumentOf(const std::shared_ptr<CSPDamEventMsg>& message,
                                          const std::shared_ptr<dam::IDevice>& device, const char* func)
{
    if (!message) {
        IOBOX_LOG(4, func, "ptr_msg is nullptr, device id: %d.", DeviceId(device));
        return nullptr;
    }
    std::shared_ptr<proto::IProto> proto = message->GetProto();
    if (!proto) {
        IOBOX_LOG(4, func, "sp_proto is nullptr, device id: %d.", DeviceId(device));
    }
    return proto;
}

} // namespace

bool AddOfflineType(const std::shared_ptr<CSPDamEventMsg>& message, std::shared_ptr<dam::IDevice> device,
                    int offlineType, time_t /*time*/)
{
    std::shared_ptr<proto::IProto> proto =
        DocumentOf(message, device, "iobox::SPEventFactoryHelper::AddOfflineType");
    if (!proto) {
        return false;
    }
    proto->set_v(std::string(kEventBasicInfoPath) + "OfflineType", offlineType);
    return true;
}

bool AddTimeInfo(const std::shared_ptr<CSPDamEventMsg>& message, std::shared_ptr<dam::IDevice> device, time_t time)
{
    std::shared_ptr<proto::IProto> proto = DocumentOf(message, device, "iobox::SPEventFactoryHelper::AddTimeInfo");
    if (!proto) {
        return false;
    }
    std::shared_ptr<dam::CEventTimeInfo> timeInfo = GetDeviceTimeInfo(device, time);
    if (!timeInfo) {
        IOBOX_LOG(4, "iobox::SPEventFactoryHelper::AddTimeInfo", "sp_time_info is nullptr, device id: %d.",
                  DeviceId(device));
        return false;
    }
    WriteTimeInfo(proto, timeInfo);
    return true;
}

std::shared_ptr<dam::CEventTimeInfo> GetDeviceTimeInfo(std::shared_ptr<dam::IDevice> device, time_t time)
{
    auto deviceManager = Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance()->GetDeviceManager();
    if (!deviceManager) {
        IOBOX_LOG(4, "iobox::SPEventFactoryHelper::GetDeviceTimeInfo", "Device manager is null, device id: %d",
                  DeviceId(device));
        return nullptr;
    }
    auto timeInfo = std::make_shared<dam::CEventTimeInfo>();
    const int deviceId = DeviceId(device);
    if (!deviceManager->GetEventTimeInfo(timeInfo, std::move(device), time) || !timeInfo) {
        IOBOX_LOG(4, "iobox::SPEventFactoryHelper::GetDeviceTimeInfo", "Get Device Time info Failed! Device id: %d",
                  deviceId);
        return nullptr;
    }
    // The event time is the worker's build time, whatever the host put there.
    timeInfo->SetUtcTime(Marl::Base::TimeUtil::TimeT2StrUTCDatetime(time));
    return timeInfo;
}

void WriteTimeInfo(std::shared_ptr<proto::IProto> proto, std::shared_ptr<dam::CEventTimeInfo> timeInfo)
{
    if (!proto || !timeInfo) {
        return;
    }
    const std::string parent = std::string(kEventBasicInfoPath) + kEventTimeInfoPath;
    proto->set_v(parent + "OccurrenceTime", timeInfo->GetUtcTime());
    proto->set_v(parent + "TimeDifference", timeInfo->GetTimeDiffrence());
    proto->set_v(parent + "TimeZone/TimeZoneBias", timeInfo->GetTimeZoneBias());
    proto->set_v(parent + "TimeZone/DaylightDate", timeInfo->GetDaylightDate());
    proto->set_v(parent + "TimeZone/StandardDate", timeInfo->GetStandardDate());
    proto->set_v(parent + "TimeZone/DaylightBias", timeInfo->GetDaylightBias());
}

} // namespace SPEventFactoryHelper
} // namespace iobox
