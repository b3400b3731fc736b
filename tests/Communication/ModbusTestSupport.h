#pragma once
// What the Modbus connection tests share: a simulated I/O box on loopback, the stand-in host,
// a log capture, an alarm recorder in the connection manager's callback slot, and logins that
// the fixture logs out again.
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Common/Timing.h"
#include "Communication/ModbusComm/TCP/TCPClient.h"
#include "Communication/ModbusComm/TCPConnManager/ModbusTypes.h"
#include "IOBoxSimulator.h"
#include "support/HostEnvironment.h"
#include "support/LogCapture.h"

namespace modbustest {

constexpr std::chrono::milliseconds kWait{3000};
constexpr uint8_t kReadCoils = 0x01;
constexpr uint8_t kReadInputs = 0x02;
constexpr uint8_t kWriteCoil = 0x05;

constexpr const char* kConnSource = "src/Communication/ModbusComm/TCPConnManager/ModbusTCPConn.cpp";
constexpr const char* kMgrSource = "src/Communication/ModbusComm/TCPConnManager/TCPConnMgr.cpp";

// Poll every 100 ms, settle 10 ms after a connect, retry an offline device at once.
iobox::ModbusTiming ShortTiming();
// Plain TCP towards 127.0.0.1; a reply is awaited for one whole second.
Marl::Net::TcpConnectParam Loopback(uint16_t port);
iobox::sim::SimulatorConfig SimConfig(int companyType = 0);

// Every record the connection manager hands to its callback, copied.
class AlarmRecorder {
public:
    void Install();
    std::vector<iobox::ModbusAlarmInfo> Records() const;
    std::size_t Count() const { return Records().size(); }
    bool WaitForCount(std::size_t count, std::chrono::milliseconds timeout = kWait) const;

private:
    mutable std::mutex m_mutex;
    std::vector<iobox::ModbusAlarmInfo> m_records;
};

// Requests the simulator saw, in order.
class RequestLog {
public:
    void Attach(iobox::sim::SimulatorConfig& config);
    // Of one function; connection 0 means any (connections are 1-based, in order of acceptance).
    std::vector<iobox::sim::RequestInfo> Of(uint8_t function, uint64_t connection = 0) const;

private:
    mutable std::mutex m_mutex;
    std::vector<iobox::sim::RequestInfo> m_requests;
};

class ModbusFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Starts the simulator, its requests logged in m_requests.
    bool StartSim(iobox::sim::SimulatorConfig config = SimConfig());
    // Logs in to the simulator; the handle is logged out again at tear-down.
    int Login(int inputType = 1, int companyType = 0);
    // Logs in and records the device (guid "box-<handle>", device id 100 + handle).
    int LoginAndSave(int inputType = 1, int companyType = 0);
    static std::string GuidOf(int handle) { return "box-" + std::to_string(handle); }
    static int DeviceIdOf(int handle) { return 100 + handle; }
    bool WaitForPolls(uint64_t count) { return m_sim->WaitForRequests(kReadInputs, count, kWait); }
    // Whether the connection logged this line from this member function.
    bool ConnLogged(int level, const std::string& func, const std::string& text) const;
    // Status codes the host's device manager was told, in order.
    std::vector<int> StatusCodes() const;

    iobox::ModbusTiming m_timing = ShortTiming();
    testsupport::HostEnvironment m_host;
    testsupport::LogCapture m_log;
    AlarmRecorder m_alarms;
    RequestLog m_requests; // outlives the simulator that feeds it
    std::unique_ptr<iobox::sim::IOBoxSimulator> m_sim;
    std::vector<int> m_handles;
};

} // namespace modbustest
