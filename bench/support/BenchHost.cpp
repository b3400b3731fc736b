#include "BenchHost.h"

#include "Marl/Base/Singleton.h"
#include "Marl/Base/ThreadManager.h"
#include "dam/InterfaceManager.h"

namespace bench {

namespace {
constexpr std::size_t kKeptLines = 5;
}

BenchHost::BenchHost()
    : deviceManager(std::make_shared<OstraPlatform::CDeviceManager>()),
      areaManager(std::make_shared<OstraPlatform::CAreaManager>()),
      capacityManager(std::make_shared<OstraPlatform::CCapacityManager>())
{
    capacityManager->SetKeepEvents(false);
    auto* interfaces = Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance();
    interfaces->SetDeviceManager(deviceManager);
    interfaces->SetAreaManager(areaManager);
    interfaces->SetCapacityManager(capacityManager);
}

BenchHost::~BenchHost() { Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance()->Clear(); }

std::shared_ptr<dam::CDevice> BenchHost::AddBox(int id, const std::string& guid, int inputs)
{
    dam::DeviceInfo info;
    info.id = id;
    info.guid = guid;
    info.category = 2005;
    info.protocol = 101;
    info.name = "bench box " + std::to_string(id);
    auto device = std::make_shared<dam::CDevice>(info);
    std::vector<std::shared_ptr<dam::CChannel>> channels;
    for (int no = 1; no <= inputs; ++no) {
        const unsigned int channelId = static_cast<unsigned int>(id) * 100U + static_cast<unsigned int>(no);
        channels.push_back(std::make_shared<dam::CAlarmInput>(channelId, kAlarmInputChannelType,
                                                              guid + "-in" + std::to_string(no), no,
                                                              info.name + " input " + std::to_string(no), true));
    }
    device->ReplaceChannels(channels);
    deviceManager->AddDevice(device);
    return device;
}

EventWorker::EventWorker()
    : m_id(Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance()->GetAvailableThread(kEventWorkerName))
{
}

EventWorker::~EventWorker()
{
    if (m_id != 0) {
        Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance()->ReleaseThread(kEventWorkerName, false);
    }
}

void CountingLogSink::Write(int level, const std::string&, const std::string&, const std::string& text)
{
    if (level < MinLevel()) {
        return;
    }
    ++m_count;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_first.size() < kKeptLines) {
        m_first.push_back(text);
    }
}

std::vector<std::string> CountingLogSink::First() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_first;
}

QuietLog::QuietLog() : m_sink(std::make_shared<CountingLogSink>()) { m_previous = Marl::Base::SetLogSink(m_sink); }

QuietLog::~QuietLog() { Marl::Base::SetLogSink(m_previous); }

} // namespace bench
