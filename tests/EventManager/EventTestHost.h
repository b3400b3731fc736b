#pragma once
// A stand-in host prepared for the event pipeline: I/O boxes with alarm input channels, areas,
// and the event worker thread.
#include <memory>
#include <string>
#include <vector>

#include "Marl/Base/Singleton.h"
#include "Marl/Base/ThreadManager.h"
#include "OstraPlatform/HostManagers.h"
#include "dam/Device.h"
#include "proto/RapidJsonProto.h"
#include "support/HostEnvironment.h"

namespace eventtest {

const char* const kWorkerName = "iobox.d.EventFactory";

// Host channel id and name of input number `no` of the device created with that channel base.
inline unsigned int ChannelId(unsigned int channelBase, int no) { return channelBase + static_cast<unsigned int>(no); }
inline std::string ChannelName(const std::string& deviceName, int no) { return deviceName + " input " + std::to_string(no); }

struct BoxSetup {
    int id;
    std::string guid;
    std::string name;
    int inputs;
    unsigned int channelBase;
};

// Adds an I/O box with inputs 1..inputs as host alarm input channels.
inline std::shared_ptr<dam::CDevice> AddBox(testsupport::HostEnvironment& host, const BoxSetup& setup)
{
    dam::DeviceInfo info;
    info.id = setup.id;
    info.guid = setup.guid;
    info.category = 2005;
    info.protocol = 101;
    info.name = setup.name;
    auto device = std::make_shared<dam::CDevice>(info);
    std::vector<std::shared_ptr<dam::CChannel>> channels;
    for (int no = 1; no <= setup.inputs; ++no) {
        channels.push_back(std::make_shared<dam::CAlarmInput>(ChannelId(setup.channelBase, no), 1003,
                                                              setup.guid + "-in" + std::to_string(no), no,
                                                              ChannelName(setup.name, no), true));
    }
    device->ReplaceChannels(channels);
    host.deviceManager->AddDevice(device);
    return device;
}

// Reserves the event worker for the life of the object; releasing runs what is still queued.
class ReservedWorker {
public:
    ReservedWorker() : m_id(Threads()->GetAvailableThread(kWorkerName)) {}
    ~ReservedWorker()
    {
        if (m_id != 0) {
            Threads()->ReleaseThread(kWorkerName, false);
        }
    }
    ReservedWorker(const ReservedWorker&) = delete;
    ReservedWorker& operator=(const ReservedWorker&) = delete;
    bool Reserved() const { return m_id != 0; }

private:
    static Marl::Base::CThreadManager* Threads() { return Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance(); }
    unsigned int m_id;
};

// Integer at a path such as "/Event/BasicInfo/EventID"; def when absent or not an int.
inline int JsonInt(const std::string& json, const char* path, int def = -1)
{
    proto::CRapidJsonProto document;
    return document.set_str(json) ? document.get_int_v(path, def) : def;
}

} // namespace eventtest
