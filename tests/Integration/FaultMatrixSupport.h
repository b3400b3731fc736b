#pragma once
// The plug-in driven as the host drives it, against simulated I/O boxes that misbehave on
// request: the communication and event managers started, the event worker thread reserved,
// the connection manager's timings shortened (a poll every 100 ms).
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

#include "Access/Strategy/IOBoxStrategy.h"
#include "IOBoxSimulator.h"
#include "ModbusTestSupport.h"
#include "support/HostEnvironment.h"
#include "support/LogCapture.h"

namespace faultmatrix {

constexpr std::chrono::milliseconds kWait{5000};

// One I/O box as the host knows it, with the simulator that plays it.
struct Box {
    std::shared_ptr<iobox::sim::IOBoxSimulator> sim;
    std::shared_ptr<dam::CDevice> device;
    std::unique_ptr<iobox::CIOBoxStrategy> strategy;
    const void* conn = nullptr; // the connection made at the last login, for identity only
};

class FaultMatrix : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A simulator with 12 inputs and 6 outputs and its host device (input type 1), or a
    // further host device for the simulator of another box.
    Box& AddBox();
    Box& AddDevice(std::shared_ptr<iobox::sim::IOBoxSimulator> sim);

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

} // namespace faultmatrix
