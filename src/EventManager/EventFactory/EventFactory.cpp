#include "EventManager/EventFactory/EventFactory.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>

#include "Common/Log.h"
#include "EventManager/EventFactory/SPEventFactoryHelper.h"
#include "Marl/Base/Singleton.h"
#include "OstraPlatform/Managers.h"
#include "dam/Event.h"
#include "dam/InterfaceManager.h"
#include "proto/RapidJsonProto.h"

namespace iobox {

namespace {

constexpr int kAlarmInputEventType = 5030;
constexpr int kAlarmInputSourceType = 1003; // also the host's alarm input channel type
constexpr int kOfflineType = 1;
constexpr int kAlarmInputRecord = 0;
constexpr int kInAlarm = 1;

// Ids of the events of this process, from 1; never reset, wraps as a 32-bit integer. An id
// taken by an event dropped later is not given back.
std::atomic<int32_t> g_eventId{0};

} // namespace

std::vector<std::shared_ptr<CSPDamEventMsg>> CSPEventFactory::CreateEventMsg(
    std::shared_ptr<CModbusAlarmInputInfo> record)
{
    std::vector<std::shared_ptr<CSPDamEventMsg>> messages;
    if (!record) {
        IOBOX_LOG(5, "iobox::CSPEventFactory::CreateEventMsg", "Empty pointer, drop event");
        return messages;
    }
    const std::shared_ptr<dam::IDevice> device = record->GetDevice();
    if (!device) {
        IOBOX_LOG(5, "iobox::CSPEventFactory::CreateEventMsg", "device_ptr pointer, drop event");
        return messages;
    }
    if (record->GetAlarm() != kInAlarm || record->GetType() != kAlarmInputRecord) {
        return messages; // an input back to normal, or not an input: no event
    }
    auto deviceManager = Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance()->GetDeviceManager();
    if (!deviceManager) {
        IOBOX_LOG(4, "iobox::CSPEventFactory::CreateEventMsg", "Device manager is null, drop event. Device id: %d",
                  device->GetDeviceID());
        return messages;
    }
    auto channel = std::make_shared<dam::CEventChannelInfo>();
    if (!deviceManager->GetEventRelatedChannel(channel, device, kAlarmInputSourceType, record->GetPoint()) ||
        !channel) {
        IOBOX_LOG(5, "iobox::CSPEventFactory::CreateEventMsg",
                  "Get event related channel failed, drop event. Device id: %d, channel no: %d, channel id: %d, "
                  "event type:%d ",
                  device->GetDeviceID(), record->GetPoint(), record->GetType(), record->GetAlarm());
        return messages;
    }

    auto document = std::make_shared<proto::CRapidJsonProto>();
    const EventDocumentPaths& paths = EventPaths();
    document->set_v(paths.eventType, kAlarmInputEventType);
    document->set_v(paths.sourceType, kAlarmInputSourceType);
    document->set_v(paths.sourceId, static_cast<int>(channel->ChannelID()));
    document->set_v(paths.sourceName, channel->ChannelName());
    document->set_v(paths.areaId, channel->AreaID());
    document->set_v(paths.areaName, channel->AreaName());
    document->set_v(paths.deviceId, device->GetDeviceID());
    document->set_v(paths.deviceName, device->GetDeviceName());
    document->set_v(paths.eventId, static_cast<int>(++g_eventId));

    auto message = std::make_shared<CSPDamEventMsg>(document);
    message->SetEventType(kAlarmInputEventType);
    message->SetSourceID(channel->ChannelID());
    message->SetSourceType(kAlarmInputSourceType);

    if (!SPEventFactoryHelper::AddOfflineType(message, device, kOfflineType, time(nullptr))) {
        return messages;
    }
    if (!SPEventFactoryHelper::AddTimeInfo(message, device, time(nullptr))) {
        return messages;
    }
    messages.push_back(std::move(message));
    return messages;
}

} // namespace iobox
