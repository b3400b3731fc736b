#include "EventManager/EventTestHost.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "Marl/Base/Singleton.h"
#include "Marl/Base/ThreadManager.h"
#include "proto/RapidJsonProto.h"

namespace eventtest {

std::shared_ptr<dam::CDevice> AddBox(testsupport::HostEnvironment& host, const BoxSpec& spec)
{
    dam::DeviceInfo info;
    info.id = spec.id;
    info.guid = spec.guid;
    info.category = 2005;
    info.protocol = 101;
    info.name = spec.name;
    auto device = std::make_shared<dam::CDevice>(info);
    std::vector<std::shared_ptr<dam::CChannel>> channels;
    for (int no = 1; no <= spec.inputs; ++no) {
        channels.push_back(std::make_shared<dam::CAlarmInput>(ChannelId(spec.channelBase, no), kAlarmInputChannelType,
                                                              spec.guid + "-in" + std::to_string(no), no,
                                                              ChannelName(spec.name, no), true));
    }
    device->ReplaceChannels(channels);
    host.deviceManager->AddDevice(device);
    return device;
}

ReservedWorker::ReservedWorker()
    : m_id(Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance()->GetAvailableThread(kWorkerName))
{
}

ReservedWorker::~ReservedWorker()
{
    if (m_id != 0) {
        Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance()->ReleaseThread(kWorkerName, false);
    }
}

TempWorkingDirectory::TempWorkingDirectory()
{
    m_previous = std::filesystem::current_path().string();
    std::string pattern = (std::filesystem::temp_directory_path() / "iobox-events-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary directory");
    }
    m_path = buffer.data();
    std::filesystem::current_path(m_path);
}

TempWorkingDirectory::~TempWorkingDirectory()
{
    std::error_code ignored;
    std::filesystem::current_path(m_previous, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

int JsonInt(const std::string& json, const char* pointer, int def)
{
    proto::CRapidJsonProto document;
    return document.set_str(json) ? document.get_int_v(pointer, def) : def;
}

} // namespace eventtest
