#pragma once
// A stand-in host prepared for the event pipeline: I/O boxes with alarm input channels, areas,
// and the event worker thread.
#include <memory>
#include <string>

#include "OstraPlatform/HostManagers.h"
#include "dam/Device.h"
#include "support/HostEnvironment.h"

namespace eventtest {

constexpr int kAlarmInputChannelType = 1003;
const char* const kWorkerName = "iobox.d.EventFactory";

// Host channel id of input number `no` of the device created with that channel base.
inline unsigned int ChannelId(unsigned int channelBase, int no) { return channelBase + static_cast<unsigned int>(no); }
inline std::string ChannelName(const std::string& deviceName, int no) { return deviceName + " input " + std::to_string(no); }

struct BoxSpec {
    int id;
    std::string guid;
    std::string name;
    int inputs;
    unsigned int channelBase;
};

// Adds an I/O box with inputs 1..inputs as host alarm input channels.
std::shared_ptr<dam::CDevice> AddBox(testsupport::HostEnvironment& host, const BoxSpec& spec);

// Reserves the event worker for the life of the object; releasing runs what is still queued.
class ReservedWorker {
public:
    ReservedWorker();
    ~ReservedWorker();
    ReservedWorker(const ReservedWorker&) = delete;
    ReservedWorker& operator=(const ReservedWorker&) = delete;

private:
    unsigned int m_id;
};

// Switches into a fresh temporary directory for the life of the object.
class TempWorkingDirectory {
public:
    TempWorkingDirectory();
    ~TempWorkingDirectory();
    TempWorkingDirectory(const TempWorkingDirectory&) = delete;
    TempWorkingDirectory& operator=(const TempWorkingDirectory&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_previous;
    std::string m_path;
};

// Integer at a JSON pointer such as "/Event/BasicInfo/EventID"; def when absent or not an int.
int JsonInt(const std::string& json, const char* pointer, int def = -1);

} // namespace eventtest
