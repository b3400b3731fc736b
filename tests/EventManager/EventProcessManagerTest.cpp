#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "EventManager/EventProcessManager.h"
#include "EventManager/EventTestHost.h"
#include "Marl/Base/Singleton.h"
#include "Marl/Base/ThreadManager.h"
#include "dam/InterfaceManager.h"
#include "support/HostEnvironment.h"
#include "support/LogCapture.h"
#include "support/Process.h"

namespace {

using eventtest::ChannelId;
using iobox::CEventProcessManager;
using iobox::ModbusAlarmInfo;

const char* const kSource = "src/EventManager/EventProcessManager.cpp";
const char* const kPostFailedLine = "[%s]Post Task Failed[%s(%d)]";
const char* const kReceiveLine = "[%s]Receive modbus Event %d, time stamp %s[%s(%d)]";
constexpr auto kDeliveryTimeout = std::chrono::seconds(10);

const eventtest::BoxSetup kBox{42, "GUID-BOX-42", "Lobby box", 8, 5000};

ModbusAlarmInfo Alarm(int address, const std::string& guid, int point) { return {address, guid, point, 0, 1}; }

// Holds the event worker until the gate opens (or a bounded wait ends).
class GateTask : public Marl::Base::CTMTask {
public:
    explicit GateTask(std::shared_future<void> open) : CTMTask(eventtest::kWorkerName), m_open(std::move(open)) {}
    void Run() override { m_open.wait_for(std::chrono::seconds(10)); }

private:
    std::shared_future<void> m_open;
};

class EventProcessManagerTest : public ::testing::Test {
protected:
    void SetUp() override { device = eventtest::AddBox(host, kBox); }

    bool WaitForEvents(std::size_t count)
    {
        return testsupport::WaitFor([&] { return host.capacityManager->EventCount() >= count; }, kDeliveryTimeout);
    }

    testsupport::HostEnvironment host;
    testsupport::LogCapture log;
    std::shared_ptr<dam::CDevice> device;
};

TEST_F(EventProcessManagerTest, UnusableRecordsAndAnUnreservedWorkerLoseTheRecordWithTheirLine)
{
    const std::string callback = "[iobox::CEventProcessManager::ModbusEventCallback]";
    struct Case {
        ModbusAlarmInfo info;
        bool withDeviceManager;
        std::string line;
    };
    const std::vector<Case> cases = {
        {Alarm(-1, kBox.guid, 1), true, callback + "ReceiveSDKData info.device_handle: -1,guid: " + kBox.guid},
        {Alarm(4, "", 1), true, callback + "ReceiveSDKData info.device_handle: 4,guid: "},
        {Alarm(4, "GUID-GONE", 1), true, callback + "Find device ptr is nullptr, guid[GUID-GONE]"},
        {Alarm(4, kBox.guid, 1), false, callback + "Get device manager ptr is nullptr!"},
        {Alarm(4, kBox.guid, 1), true, "[iobox::CEventProcessManager::ProcSDKRawEventAsync]Post Task Failed"},
    };
    auto* interfaces = Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance();
    for (auto c : cases) {
        SCOPED_TRACE(c.line);
        interfaces->SetDeviceManager(c.withDeviceManager ? host.deviceManager : nullptr);
        log.Clear();
        CEventProcessManager::ModbusEventCallback(&c.info, nullptr);
        const auto lines = log.Lines();
        ASSERT_EQ(lines.size(), 2u) << log.Dump();
        EXPECT_EQ(lines[0].level, 2);
        EXPECT_TRUE(testsupport::MatchesLine(lines[1].text, c.line, kSource)) << lines[1].text;
        EXPECT_EQ(lines[1].level, 5);
    }
    EXPECT_EQ(host.capacityManager->EventCount(), 0u);
}

TEST_F(EventProcessManagerTest, EveryFiveThousandthRecordWritesTheReceiveLineAndRestartsTheCount)
{
    auto* manager = CEventProcessManager::Instance();
    const std::string head = "[iobox::CEventProcessManager::ReceiveAdamRawData]Receive modbus Event 5000, time stamp ";
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        for (int i = 1; i < 5000; ++i) {
            manager->ReceiveAdamRawData(nullptr);
        }
        EXPECT_EQ(log.CountFormat(kReceiveLine), static_cast<std::size_t>(round - 1)) << "the 4999th writes nothing";
        manager->ReceiveAdamRawData(nullptr);
        const auto lines = log.WithFormat(kReceiveLine);
        ASSERT_EQ(lines.size(), static_cast<std::size_t>(round));
        EXPECT_EQ(lines.back().level, 3);
        EXPECT_EQ(lines.back().text.rfind(head, 0), 0u) << lines.back().text;
    }
    // An empty record is accepted with a trace of its own.
    EXPECT_EQ(log.CountLine(2, "[iobox::CEventProcessManager::ReceiveAdamRawData]alarm ptr is nullptr!", kSource),
              10000u);
}

TEST_F(EventProcessManagerTest, CallbackKeepsCopiesNotTheCallersRecord)
{
    eventtest::ReservedWorker worker;
    std::promise<void> gate;
    ASSERT_TRUE(Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance()->PostTask(
        std::make_shared<GateTask>(gate.get_future().share()), false));

    auto info = std::make_unique<ModbusAlarmInfo>(Alarm(2, kBox.guid, 6));
    CEventProcessManager::ModbusEventCallback(info.get(), nullptr);
    // The poll reuses or frees its record and the host deletes the device before the worker runs.
    info->point = 1;
    info->guid = "GUID-OTHER";
    info.reset();
    ASSERT_TRUE(host.deviceManager->DeleteDeviceByID(kBox.id, 2005));
    device.reset();
    gate.set_value();

    ASSERT_TRUE(WaitForEvents(1));
    const auto events = host.capacityManager->Events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].sourceId, ChannelId(kBox.channelBase, 6));
    EXPECT_EQ(eventtest::JsonInt(events[0].json, "/Event/BasicInfo/DeviceID"), kBox.id);
}

TEST_F(EventProcessManagerTest, ConcurrentAlarmsArriveAllInOrderPerThreadOnTheWorkerOnlyUntilUnInit)
{
    constexpr int kThreads = 4;
    constexpr int kAlarmsPerThread = 250;
    constexpr int kInputs = 8;
    std::vector<eventtest::BoxSetup> boxes;
    std::map<unsigned int, int> boxOfChannel;
    for (int t = 0; t < kThreads; ++t) {
        boxes.push_back({100 + t, "GUID-RAISER-" + std::to_string(t), "Raiser " + std::to_string(t), kInputs,
                         static_cast<unsigned int>(10000 * (t + 1))});
        eventtest::AddBox(host, boxes.back());
        for (int no = 1; no <= kInputs; ++no) {
            boxOfChannel[ChannelId(boxes.back().channelBase, no)] = t;
        }
    }

    eventtest::ReservedWorker worker;
    auto* connections = iobox::CTCPConnMgr::Instance();
    ASSERT_TRUE(CEventProcessManager::Instance()->Init());
    const auto callback = connections->GetAlarmCallback();
    void* const userData = connections->GetAlarmUserData();
    ASSERT_EQ(callback, &CEventProcessManager::ModbusEventCallback);
    ASSERT_EQ(userData, CEventProcessManager::Instance());

    std::promise<void> start;
    std::shared_future<void> go = start.get_future().share();
    std::vector<std::thread> raisers;
    for (int t = 0; t < kThreads; ++t) {
        raisers.emplace_back([&, t] {
            go.wait_for(std::chrono::seconds(10));
            for (int i = 0; i < kAlarmsPerThread; ++i) {
                ModbusAlarmInfo info = Alarm(t + 1, boxes[t].guid, i % kInputs + 1);
                callback(&info, userData);
            }
        });
    }
    start.set_value();
    for (auto& raiser : raisers) {
        raiser.join();
    }
    ASSERT_TRUE(WaitForEvents(kThreads * kAlarmsPerThread)) << host.capacityManager->EventCount();

    const auto events = host.capacityManager->Events();
    ASSERT_EQ(events.size(), static_cast<std::size_t>(kThreads * kAlarmsPerThread));
    std::vector<int> delivered(kThreads, 0);
    const int firstId = eventtest::JsonInt(events[0].json, "/Event/BasicInfo/EventID");
    for (std::size_t i = 0; i < events.size(); ++i) {
        const auto& event = events[i];
        EXPECT_EQ(event.threadName, eventtest::kWorkerName) << "delivered on the worker only";
        // One worker builds and delivers one record at a time: ids arrive consecutive.
        EXPECT_EQ(eventtest::JsonInt(event.json, "/Event/BasicInfo/EventID"), firstId + static_cast<int>(i));
        auto box = boxOfChannel.find(event.sourceId);
        ASSERT_NE(box, boxOfChannel.end()) << event.sourceId;
        const int t = box->second;
        const int expectedInput = delivered[t] % kInputs + 1;
        EXPECT_EQ(event.sourceId, ChannelId(boxes[t].channelBase, expectedInput)) << "thread " << t << " alarm "
                                                                                  << delivered[t];
        EXPECT_EQ(eventtest::JsonInt(event.json, "/Event/BasicInfo/DeviceID"), boxes[t].id);
        ++delivered[t];
    }
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(delivered[t], kAlarmsPerThread);
    }
    EXPECT_EQ(log.CountFormat(kPostFailedLine), 0u);
    EXPECT_TRUE(log.HasLine(2, "[iobox::CEventProcessManager::ModbusEventCallback]ModbusEventCB, address :4, type:0, "
                               "point:3, alarm:1", kSource));

    // After UnInit the connection manager has nothing to call: an alarm reaches nobody.
    EXPECT_TRUE(CEventProcessManager::Instance()->UnInit());
    EXPECT_EQ(connections->GetAlarmCallback(), nullptr);
    log.Clear();
    ModbusAlarmInfo late = Alarm(1, boxes[0].guid, 1);
    connections->ShowAlarm(nullptr, &late);
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
    EXPECT_TRUE(Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance()->ReleaseThread(eventtest::kWorkerName, false));
    EXPECT_EQ(host.capacityManager->EventCount(), events.size());
}

} // namespace
