#pragma once
#include <ctime>
#include <memory>
#include <string>

#include "EventManager/Event/DamEventMsg.h"
#include "dam/Device.h"
#include "dam/Event.h"
#include "proto/IProto.h"

namespace iobox {

// Full path of every value of the event document, under "/Event/BasicInfo/" and its
// "TimeInfo/". Built once: the worker writes sixteen values
// per event and would otherwise put each path together again for each of them.
struct EventDocumentPaths {
    std::string eventType, sourceType, sourceId, sourceName, areaId, areaName, deviceId, deviceName, eventId,
        offlineType;
    std::string occurrenceTime, timeDifference, timeZoneBias, daylightDate, standardDate, daylightBias;
};
const EventDocumentPaths& EventPaths();

// Pieces of the event document that depend on the host's view of the device.
namespace SPEventFactoryHelper {

// Writes "OfflineType"; false when the message or its document is missing.
bool AddOfflineType(const std::shared_ptr<CSPDamEventMsg>& message, std::shared_ptr<dam::IDevice> device,
                    int offlineType, time_t time);
// Writes the time block for that time; false when the host cannot give the device's time zone.
bool AddTimeInfo(const std::shared_ptr<CSPDamEventMsg>& message, std::shared_ptr<dam::IDevice> device, time_t time);
// The device's time-zone values with the UTC text of the time; empty on failure.
std::shared_ptr<dam::CEventTimeInfo> GetDeviceTimeInfo(std::shared_ptr<dam::IDevice> device, time_t time);
void WriteTimeInfo(std::shared_ptr<proto::IProto> proto, std::shared_ptr<dam::CEventTimeInfo> timeInfo);

} // namespace SPEventFactoryHelper
} // namespace iobox
