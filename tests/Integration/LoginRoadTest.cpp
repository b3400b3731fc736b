#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "Access/Strategy/IOBoxStrategy.h"
#include "Communication/DeviceCommManager.h"
#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "EventManager/EventProcessManager.h"
#include "IOBoxSimulator.h"
#include "Marl/Base/Singleton.h"
#include "Marl/Base/ThreadManager.h"
#include "support/HostEnvironment.h"
#include "support/IOBoxDevice.h"
#include "support/LogCapture.h"
#include "support/Process.h"

namespace {

using namespace std::chrono_literals;
using testsupport::WaitFor;

// Shortened timings, the communication and event managers started, a simulated box.
class LoginRoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        iobox::ModbusTiming timing;
        timing.pollPeriodMs = 100;
        timing.connectSettleMs = 10;
        timing.offlineRetrySeconds = 0;
        iobox::CTCPConnMgr::Instance()->SetTiming(timing);
        ASSERT_TRUE(iobox::CDeviceCommManager::Instance()->Init());
        ASSERT_TRUE(iobox::CEventProcessManager::Instance()->Init());
        ASSERT_NE(Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance()->GetAvailableThread(
                      "iobox.d.EventFactory"),
                  0u);
        ASSERT_TRUE(box.Start()) << box.LastError();
    }

    void TearDown() override
    {
        Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance()->ReleaseThread("iobox.d.EventFactory", false);
        box.Stop();
    }

    std::shared_ptr<dam::CDevice> Box(int inputType = 1)
    {
        testsupport::IOBoxSpec spec;
        spec.port = box.Port();
        spec.inputType = inputType;
        auto device = testsupport::MakeIOBox(spec);
        host.deviceManager->AddDevice(device);
        return device;
    }

    testsupport::HostEnvironment host;
    iobox::sim::IOBoxSimulator box;
};

// Counts Logout calls and can make the channel refresh fail, as a host that refuses the
// channels would.
class CountingStrategy : public iobox::CIOBoxStrategy {
public:
    using iobox::CIOBoxStrategy::CIOBoxStrategy;
    bool Logout() override
    {
        ++logouts;
        return iobox::CIOBoxStrategy::Logout();
    }
    bool RefreshChannel() override { return refuseChannels ? false : iobox::CIOBoxStrategy::RefreshChannel(); }

    int logouts = 0;
    bool refuseChannels = false;
};

TEST_F(LoginRoad, FailedAfterLoginLogsOutOnceAndLeavesHandleMinusOne)
{
    testsupport::LogCapture log;
    auto device = Box();
    CountingStrategy strategy(device, false);
    strategy.refuseChannels = true;
    EXPECT_FALSE(strategy.Login());
    EXPECT_EQ(strategy.logouts, 1);
    EXPECT_EQ(device->GetDeviceHandle(), -1);
    EXPECT_TRUE(log.HasLine(5, "[iobox::CIOBoxStrategy::AfterLogin]RefreshChannel failed.",
                            "src/Access/Strategy/IOBoxStrategy.cpp"))
        << log.Dump();
    // The connection is gone: its handle has no connection and the box sees no more polls.
    EXPECT_FALSE(iobox::CTCPConnMgr::Instance()->GetConn(1));
    EXPECT_TRUE(WaitFor([&] { return box.ConnectionCount() == 0; }, 2s));
    const auto polls = box.RequestCount(0x02);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(box.RequestCount(0x02), polls);
}

TEST_F(LoginRoad, LoginPollsAndEveryAlarmBecomesAnEventUntilUnInit)
{
    box.SetInput(4, true);
    auto device = Box(1);
    iobox::CIOBoxStrategy strategy(device, false);
    ASSERT_TRUE(strategy.Login());
    const int handle = device->GetDeviceHandle();
    ASSERT_GE(handle, 1);
    ASSERT_TRUE(iobox::CTCPConnMgr::Instance()->GetConn(handle));

    // An input that stays in alarm is an event at every poll.
    ASSERT_TRUE(WaitFor([&] { return host.capacityManager->EventCount() >= 3; }, 5s));
    for (const auto& event : host.capacityManager->Events()) {
        EXPECT_EQ(event.sourceId, device->GetChannels(1003)[3]->GetID());
    }

    // Withdrawn callback: polling goes on, nothing reaches the host.
    ASSERT_TRUE(iobox::CEventProcessManager::Instance()->UnInit());
    std::this_thread::sleep_for(150ms); // a poll already past the callback may still deliver
    const auto delivered = host.capacityManager->EventCount();
    const auto polls = box.RequestCount(0x02);
    ASSERT_TRUE(box.WaitForRequests(0x02, polls + 3, 3s));
    Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance()->ReleaseThread("iobox.d.EventFactory", false);
    EXPECT_EQ(host.capacityManager->EventCount(), delivered);

    ASSERT_TRUE(strategy.Logout());
    EXPECT_EQ(device->GetDeviceHandle(), -1);
    EXPECT_FALSE(iobox::CTCPConnMgr::Instance()->GetConn(handle));
}

} // namespace
