#include "EventManager/EventNotifyMgr.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <string>

#include "Common/Log.h"
#include "Marl/Base/Singleton.h"
#include "Marl/Base/TimeUtil.h"
#include "OstraPlatform/Managers.h"
#include "dam/InterfaceManager.h"

namespace iobox {

namespace {

constexpr int kSummaryEvery = 5000;
const char* const kEventOrigin = "platform";
constexpr unsigned int kAnyUser = 0xFFFFFFFFu;

// Throughput of the periodic summary line; reset after each line.
std::atomic<int32_t> g_produceCount{0};
std::atomic<int32_t> g_pictureCount{0};

} // namespace

void CSPEventNotifyMgr::Notify(const std::shared_ptr<CSPDamEventMsg>& message)
{
    if (!message) {
        return;
    }
    const int32_t produced = ++g_produceCount;
    if (message->HasPictures()) {
        ++g_pictureCount;
    }
    if (produced % kSummaryEvery == 0) {
        std::string stamp;
        int bias = 0;
        Marl::Base::TimeUtil::TimeT2LocalTime(stamp, bias, time(nullptr));
        IOBOX_LOG(3, "iobox::CSPEventNotifyMgr::Notify", "Produce Event %d, picture event %d, time stamp %s", produced,
                  g_pictureCount.load(), stamp.c_str());
        g_produceCount.store(0);
        g_pictureCount.store(0);
    }

    // Building the bytes here, before the host holds the message, leaves later readers read-only.
    char* data = nullptr;
    unsigned int length = 0;
    message->GetContent(&data, &length);
    IOBOX_LOG(2, "iobox::CSPEventNotifyMgr::Notify", "Send event message %s", data != nullptr ? data : "");

    auto capacityManager = Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance()->GetCapacityManager();
    if (!capacityManager) {
        IOBOX_LOG(4, "iobox::CSPEventNotifyMgr::Notify", "Capacity manager is null, drop event type %d",
                  static_cast<int>(message->GetEventType()));
        return;
    }
    const std::shared_ptr<OstraPlatform::CBaseContent> content = message;
    capacityManager->NotifyEvent(message->GetEventType(), message->GetSourceType(), message->GetSourceID(), content,
                                 kEventOrigin, kAnyUser);
}

void CSPEventNotifyMgr::Notify(const std::vector<std::shared_ptr<CSPDamEventMsg>>& messages)
{
    for (const auto& message : messages) {
        Notify(message);
    }
}

} // namespace iobox
