#include "ModbusTestSupport.h"

#include <algorithm>

#include "Communication/DeviceCommManager.h"
#include "LoopbackServer.h"
#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "EventManager/EventProcessManager.h"
#include "Marl/Base/Singleton.h"
#include "Marl/Base/ThreadManager.h"
#include "Operation/Impl/IOBoxCommonOperationImp.h"
#include "dam/Operation.h"
#include "support/IOBoxDevice.h"
#include "support/Process.h"

namespace modbustest {

namespace {

constexpr int kAlarmInputChannel = 1003;
constexpr int kAlarmOutputChannel = 1004;
const char* const kEventThread = "iobox.d.EventFactory";

Marl::Base::CThreadManager* Threads() { return Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance(); }

// Host channel id -> channel number for one channel type of the device.
std::map<unsigned int, int> ChannelNumbers(const std::shared_ptr<dam::CDevice>& device, int channelType)
{
    std::map<unsigned int, int> numbers;
    for (const auto& channel : device->GetChannels(channelType)) {
        numbers[channel->GetID()] = channel->GetNo();
    }
    return numbers;
}

} // namespace

iobox::ModbusTiming ShortTiming()
{
    iobox::ModbusTiming timing;
    timing.pollPeriodMs = 100;
    timing.connectSettleMs = 10;
    timing.offlineRetrySeconds = 0;
    return timing;
}

Marl::Net::TcpConnectParam Loopback(uint16_t port) { return transporttest::ClientParams(port, 1000, false); }

::testing::AssertionResult RepeatsFromFirst(const std::vector<int>& points, const std::vector<int>& pattern)
{
    std::size_t start = 0;
    while (start < points.size() && points[start] != pattern[0]) {
        ++start;
    }
    if (start >= pattern.size()) {
        return ::testing::AssertionFailure() << start << " events before the first whole poll";
    }
    for (std::size_t i = start; i < points.size(); ++i) {
        if (points[i] != pattern[(i - start) % pattern.size()]) {
            return ::testing::AssertionFailure() << "event " << i << " is for input " << points[i];
        }
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult OnlyPoints(const std::vector<int>& points, const std::vector<int>& allowed)
{
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (std::find(allowed.begin(), allowed.end(), points[i]) == allowed.end()) {
            return ::testing::AssertionFailure() << "event " << i << " is for input " << points[i];
        }
    }
    return ::testing::AssertionSuccess();
}

Resources::Resources() : threads(testsupport::ThreadCount()), descriptors(testsupport::OpenDescriptorCount()) {}

::testing::AssertionResult Resources::Regained() const
{
    const auto same = [this] {
        const Resources now;
        return now.threads == threads && now.descriptors == descriptors;
    };
    if (testsupport::WaitFor(same, kWait)) {
        return ::testing::AssertionSuccess();
    }
    const Resources now;
    return ::testing::AssertionFailure() << "threads " << threads << " -> " << now.threads << ", descriptors "
                                         << descriptors << " -> " << now.descriptors;
}

void PluginFixture::SetUp()
{
    // GoogleTest on Windows starts a watcher thread with a thread's first scoped trace; this
    // thread's is started here, before any test takes its thread count.
    { SCOPED_TRACE("set-up"); }
    iobox::CTCPConnMgr::Instance()->SetTiming(ShortTiming());
    ASSERT_TRUE(iobox::CDeviceCommManager::Instance()->Init());
    ASSERT_TRUE(iobox::CEventProcessManager::Instance()->Init());
    ASSERT_NE(Threads()->GetAvailableThread(kEventThread), 0u);
}

void PluginFixture::TearDown()
{
    for (auto& box : m_boxes) {
        if (Handle(box) >= 0) {
            box.strategy->Logout();
        }
    }
    Threads()->ReleaseThread(kEventThread, false);
    iobox::CEventProcessManager::Instance()->UnInit();
    iobox::CDeviceCommManager::Instance()->UnInit();
    iobox::CTCPConnMgr::Instance()->SetTiming(iobox::ModbusTiming());
    for (auto& box : m_boxes) {
        box.sim->Stop(); // a shared simulator stops once
    }
}

Box& PluginFixture::AddBox(int companyType, int inputType)
{
    iobox::sim::SimulatorConfig config;
    config.companyType = companyType;
    auto sim = std::make_shared<iobox::sim::IOBoxSimulator>(config);
    EXPECT_TRUE(sim->Start()) << sim->LastError();
    return AddDevice(std::move(sim), companyType, inputType);
}

Box& PluginFixture::AddDevice(std::shared_ptr<iobox::sim::IOBoxSimulator> sim, int companyType, int inputType)
{
    m_boxes.emplace_back();
    Box& added = m_boxes.back();
    added.sim = std::move(sim);
    testsupport::IOBoxSetup setup;
    setup.id = static_cast<int>(m_boxes.size());
    setup.guid = "GUID-" + std::to_string(setup.id);
    setup.code = "code-" + std::to_string(setup.id);
    setup.port = added.sim->Port();
    setup.inputType = inputType;
    setup.companyType = companyType;
    added.device = testsupport::MakeIOBox(setup);
    m_host.deviceManager->AddDevice(added.device);
    added.strategy = std::make_unique<iobox::CIOBoxStrategy>(added.device, false);
    return added;
}

bool PluginFixture::Login(Box& box)
{
    if (!box.strategy->Login()) {
        return false;
    }
    box.conn = iobox::CTCPConnMgr::Instance()->GetConn(Handle(box)).get();
    return true;
}

bool PluginFixture::LoginWithShortTimeouts(Box& box)
{
    auto* manager = iobox::CTCPConnMgr::Instance();
    auto param = std::dynamic_pointer_cast<dam::CModbusLoginParam>(box.device->GetDeviceLoginParam());
    const int handle = manager->RequestLogin(Loopback(box.sim->Port()), 12, 6, param->GetVal_input_type(),
                                             param->GetVal_company_type());
    if (handle < 0) {
        return false;
    }
    box.device->SetDeviceHandle(box.device->MapLoginHandle(handle));
    manager->SaveAdamDeviceGuid(handle, {box.device->GetDeviceGuid(), box.device->GetDeviceHandle()});
    if (!box.strategy->AfterLogin(std::make_shared<dam::CDeviceLoginData>())) {
        return false;
    }
    box.conn = manager->GetConn(handle).get();
    return true;
}

std::vector<int> PluginFixture::EventPoints(const Box& box) const
{
    const auto numbers = ChannelNumbers(box.device, kAlarmInputChannel);
    std::vector<int> points;
    for (const auto& event : m_host.capacityManager->Events()) {
        const auto it = numbers.find(event.sourceId);
        if (it != numbers.end()) {
            points.push_back(it->second);
        }
    }
    return points;
}

bool PluginFixture::WaitForEvents(const Box& box, std::size_t count) const
{
    return testsupport::WaitFor([&] { return EventPoints(box).size() >= count; }, kWait);
}

bool PluginFixture::WaitForPolls(const Box& box, uint64_t more) const
{
    return box.sim->WaitForRequests(kReadInputs, box.sim->RequestCount(kReadInputs) + more, kWait);
}

bool PluginFixture::WaitForLines(const char* format, std::size_t count) const
{
    return testsupport::WaitFor([&] { return m_log.CountFormat(format) >= count; }, kWait);
}

std::map<unsigned int, unsigned int> PluginFixture::Outputs(const Box& box) const
{
    std::vector<std::shared_ptr<dam::CAlarmOutputStatus>> statuses;
    std::map<unsigned int, unsigned int> states;
    if (!iobox::CIOBoxOperationImp::Instance()->GetAlarmOutputStatus(statuses, box.device)) {
        return states;
    }
    const auto numbers = ChannelNumbers(box.device, kAlarmOutputChannel);
    for (const auto& status : statuses) {
        const auto it = numbers.find(status->GetAlarmOutputID());
        if (it != numbers.end()) {
            states[static_cast<unsigned int>(it->second)] = status->GetStatus();
        }
    }
    return states;
}

bool PluginFixture::Switch(const Box& box, int outputNo, unsigned int state) const
{
    for (const auto& channel : box.device->GetChannels(kAlarmOutputChannel)) {
        if (channel->GetNo() == outputNo) {
            return iobox::CIOBoxOperationImp::Instance()->SetAlarmOutStatus(channel->GetID(), state, box.device);
        }
    }
    return false;
}

std::vector<int> PluginFixture::StatusCodes(const Box& box) const
{
    std::vector<int> codes;
    for (const auto& record : m_host.deviceManager->StatusNotifications()) {
        if (record.deviceId == Handle(box)) {
            codes.push_back(record.statusCode);
        }
    }
    return codes;
}

void PluginFixture::ExpectServedAgain(const Box& box, const std::vector<int>& inAlarm)
{
    ASSERT_GE(Handle(box), 1);
    EXPECT_EQ(iobox::CTCPConnMgr::Instance()->GetConn(Handle(box)).get(), box.conn);

    const std::size_t before = EventPoints(box).size();
    ASSERT_TRUE(WaitForEvents(box, before + 2 * inAlarm.size())) << m_log.Dump();
    const auto points = EventPoints(box);
    EXPECT_TRUE(OnlyPoints(std::vector<int>(points.begin() + static_cast<std::ptrdiff_t>(before), points.end()), inAlarm));

    // The device answers in order, so a read right after a switch sees it.
    const auto states = Outputs(box);
    ASSERT_EQ(states.size(), 6u) << m_log.Dump();
    const unsigned int flipped = states.at(6) == 1 ? 0 : 1;
    EXPECT_TRUE(Switch(box, 6, flipped));
    const auto after = Outputs(box);
    ASSERT_EQ(after.size(), 6u);
    EXPECT_EQ(after.at(6), flipped);
    EXPECT_EQ(box.sim->GetOutput(6), flipped == 1);
}

} // namespace modbustest
