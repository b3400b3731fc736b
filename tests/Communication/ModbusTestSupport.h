#pragma once
// The plug-in driven as the host drives it, against simulated I/O boxes on loopback that
// misbehave on request: the stand-in host, the communication and event managers started, the
// event worker thread reserved, a log capture, and the connection manager's timings shortened
// (a poll every 100 ms, 10 ms settle after a connect, an offline box retried at once).
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Access/Strategy/IOBoxStrategy.h"
#include "Common/Timing.h"
#include "Communication/ModbusComm/TCP/TCPClient.h"
#include "IOBoxSimulator.h"
#include "support/HostEnvironment.h"
#include "support/LogCapture.h"

namespace modbustest {

constexpr std::chrono::milliseconds kWait{5000};
constexpr uint8_t kReadCoils = 0x01;
constexpr uint8_t kReadInputs = 0x02;
constexpr uint8_t kWriteCoil = 0x05;
constexpr const char* kConnSource = "src/Communication/ModbusComm/TCPConnManager/ModbusTCPConn.cpp";
constexpr const char* kMgrSource = "src/Communication/ModbusComm/TCPConnManager/TCPConnMgr.cpp";
constexpr const char* kInputExchangeFailed = "[%s]GetInputStatus SynSendData failed, handle id[%d].[%s(%d)]";
constexpr const char* kOutputExchangeFailed = "[%s]GetAlarmHostMainStatus SynSendData failed.connect handle[%d][%s(%d)]";

iobox::ModbusTiming ShortTiming();
// Plain TCP towards 127.0.0.1; a reply is awaited for one whole second.
Marl::Net::TcpConnectParam Loopback(uint16_t port);

// One I/O box as the host knows it, with the simulator that plays it.
struct Box {
    std::shared_ptr<iobox::sim::IOBoxSimulator> sim;
    std::shared_ptr<dam::CDevice> device;
    std::unique_ptr<iobox::CIOBoxStrategy> strategy;
    const void* conn = nullptr; // the connection made at the last login, for identity only
};

class PluginFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A simulator with 12 inputs and 6 outputs and its host device.
    Box& AddBox(int companyType = 0, int inputType = 1);
    // A further host device for the simulator of another box.
    Box& AddDevice(std::shared_ptr<iobox::sim::IOBoxSimulator> sim, int companyType = 0, int inputType = 1);

    // The host's login road, with its 10 s network time-outs.
    bool Login(Box& box);
    // The same road with 1 s network time-outs, for faults that only a time-out ends: the
    // road fixes 10 s, so the connection manager is asked directly and the road's own steps
    // after the connection (device handle, guid record, channels) follow as it does them.
    bool LoginWithShortTimeouts(Box& box);
    bool Logout(Box& box) { return box.strategy->Logout(); }
    static int Handle(const Box& box) { return box.device->GetDeviceHandle(); }

    // Input numbers of the events delivered for the box, in order of delivery.
    std::vector<int> EventPoints(const Box& box) const;
    bool WaitForEvents(const Box& box, std::size_t count) const;
    bool WaitForPolls(const Box& box, uint64_t more) const; // framed after this call
    bool WaitForLines(const char* format, std::size_t count) const;
    // Output states by output number, through the host's operation; empty when it failed.
    std::map<unsigned int, unsigned int> Outputs(const Box& box) const;
    bool Switch(const Box& box, int outputNo, unsigned int state) const;
    // Status codes the host was told for the box's device, in order.
    std::vector<int> StatusCodes(const Box& box) const;

    // After a fault: the same connection under the same handle, new events for exactly the
    // inputs in alarm, an output switched and read back.
    void ExpectServedAgain(const Box& box, const std::vector<int>& inAlarm);

    testsupport::HostEnvironment m_host;
    testsupport::LogCapture m_log;
    std::deque<Box> m_boxes; // stable references
};

// Threads and descriptors of the process, to be found again once a fault is over.
struct Resources {
    Resources();
    // Waits a little: a socket the device has just closed may still be on its way out.
    ::testing::AssertionResult Regained() const;
    int threads;
    int descriptors;
};

// Every element of `points` is one of `allowed`.
::testing::AssertionResult OnlyPoints(const std::vector<int>& points, const std::vector<int>& allowed);
// The points, from the first `pattern[0]` on, repeat the pattern (a last poll may still be on
// its way). Before it may come the tail of a poll delivered only in part because the device's
// guid was recorded while it ran.
::testing::AssertionResult RepeatsFromFirst(const std::vector<int>& points, const std::vector<int>& pattern);

} // namespace modbustest
