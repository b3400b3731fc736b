#include "EventManager/EventFactory/SPEventFactoryHelper.h"

#include <string>

#include "Common/Log.h"
#include "Marl/Base/Singleton.h"
#include "Marl/Base/TimeUtil.h"
#include "OstraPlatform/Managers.h"
#include "dam/InterfaceManager.h"

namespace iobox {

const EventDocumentPaths& EventPaths()
{
    static const EventDocumentPaths paths = [] {
        const std::string basic = "/Event/BasicInfo/";
        const std::string time = basic + "TimeInfo/";
        EventDocumentPaths p;
        p.eventType = basic + "EventType";
        p.sourceType = basic + "SourceType";
        p.sourceId = basic + "SourceID";
        p.sourceName = basic + "SourceName";
        p.areaId = basic + "AreaID";
        p.areaName = basic + "AreaName";
        p.deviceId = basic + "DeviceID";
        p.deviceName = basic + "DeviceName";
        p.eventId = basic + "EventID";
        p.offlineType = basic + "OfflineType";
        p.occurrenceTime = time + "OccurrenceTime";
        p.timeDifference = time + "TimeDifference";
        p.timeZoneBias = time + "TimeZone/TimeZoneBias";
        p.daylightDate = time + "TimeZone/DaylightDate";
        p.standardDate = time + "TimeZone/StandardDate";
        p.daylightBias = time + "TimeZone/DaylightBias";
        return p;
    }();
    return paths;
}

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
    proto->set_v(EventPaths().offlineType, offlineType);
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
    const EventDocumentPaths& paths = EventPaths();
    proto->set_v(paths.occurrenceTime, timeInfo->GetUtcTime());
    proto->set_v(paths.timeDifference, timeInfo->GetTimeDiffrence());
    proto->set_v(paths.timeZoneBias, timeInfo->GetTimeZoneBias());
    proto->set_v(paths.daylightDate, timeInfo->GetDaylightDate());
    proto->set_v(paths.standardDate, timeInfo->GetStandardDate());
    proto->set_v(paths.daylightBias, timeInfo->GetDaylightBias());
}

} // namespace SPEventFactoryHelper
} // namespace iobox
