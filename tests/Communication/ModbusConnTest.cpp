// The Modbus connections and their manager against the simulated box: polling, supervision,
// outputs, the alarm callback and the life of a connection.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Common/Timer.h"
#include "Communication/DeviceCommManager.h"
#include "Communication/ModbusComm/ModbusComm.h"
#include "Communication/ModbusComm/TCPConnManager/ModbusTCPConn.h"
#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "Marl/Base/Error.h"
#include "Marl/Base/Singleton.h"
#include "Marl/Base/ThreadManager.h"
#include "ModbusTestSupport.h"
#include "dam/Channel.h"
#include "support/Process.h"

namespace {

using iobox::CModbusTCPConn;
using iobox::CTCPConnMgr;
using iobox::ModbusAlarmInfo;
using modbustest::Box;
using modbustest::kInputExchangeFailed;
using modbustest::kMgrSource;
using modbustest::kReadCoils;
using modbustest::kReadInputs;
using modbustest::kWait;
using modbustest::kWriteCoil;
using std::chrono::milliseconds;
using States = std::map<unsigned int, unsigned int>;

const char* const kLogOut = "[%s]device logOut, handle[%d].[%s(%d)]";
const char* const kRefused = "[%s]adam conn_err, error code:%d[%s(%d)]";

int LastErrorCode() { return Marl::Base::Error::GetLastError().GetCode(); }
void ResetLastError() { Marl::Base::Error::SetLastError(Marl::Base::Error::ErrorCode(0, 0)); }

// The connections' monotonic tick, moved by hand, and its reads (one per offline poll).
std::atomic<uint64_t> g_tick{1000000};
std::atomic<uint64_t> g_tickReads{0};

// Every record the connection manager hands to its callback, copied.
class AlarmRecorder {
public:
    void Install()
    {
        CTCPConnMgr::Instance()->SetAlarmCallback(
            [](ModbusAlarmInfo* info, void* self) {
                auto* recorder = static_cast<AlarmRecorder*>(self);
                std::lock_guard<std::mutex> lock(recorder->m_mutex);
                recorder->m_records.push_back(*info);
                recorder->m_threads.push_back(std::this_thread::get_id());
            },
            this);
    }
    std::vector<ModbusAlarmInfo> Records() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_records;
    }
    std::vector<std::thread::id> Threads() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_threads;
    }
    bool WaitForCount(std::size_t count) const
    {
        return testsupport::WaitFor([&] { return Records().size() >= count; }, kWait);
    }

private:
    mutable std::mutex m_mutex;
    std::vector<ModbusAlarmInfo> m_records;
    std::vector<std::thread::id> m_threads; // the callback's, one a record
};

class ModbusConn : public modbustest::PluginFixture {
protected:
    void TearDown() override
    {
        Mgr()->SetAlarmCallback(nullptr, nullptr);
        for (int handle : m_direct) {
            Mgr()->Logout(handle);
        }
        PluginFixture::TearDown();
    }
    static CTCPConnMgr* Mgr() { return CTCPConnMgr::Instance(); }
    static std::shared_ptr<CModbusTCPConn> Conn(const Box& box) { return Mgr()->GetConn(Handle(box)); }
    // A login to the box's simulator that only the connection manager knows of.
    int DirectLogin(const Box& box)
    {
        m_direct.push_back(Mgr()->RequestLogin(modbustest::Loopback(box.sim->Port()), 12, 6, 1, 0));
        return m_direct.back();
    }
    void SetPollPeriod(uint32_t ms)
    {
        auto timing = modbustest::ShortTiming();
        timing.pollPeriodMs = ms;
        Mgr()->SetTiming(timing);
    }

    AlarmRecorder m_alarms;
    std::vector<int> m_direct;
};

// ---- polling ---------------------------------------------------------------------------

TEST_F(ModbusConn, InputsInAlarmAreReportedAtEveryPollAndOthersNever)
{
    // Inputs 1, 4, 7 and 12 are on, read with the three input types.
    const std::pair<int, std::vector<int>> cases[] = {
        {1, {1, 4, 7, 12}},
        {0, {2, 3, 5, 6, 8, 9, 10, 11}},
        {2, {}},
    };
    for (const auto& c : cases) {
        Box& box = AddBox(0, c.first);
        box.sim->SetInputs(0b1000'0100'1001ull);
        ASSERT_TRUE(Login(box));
    }
    for (std::size_t k = 0; k < 3; ++k) {
        ASSERT_TRUE(m_boxes[k].sim->WaitForRequests(kReadInputs, 6, kWait));
    }
    for (std::size_t k = 0; k < 3; ++k) {
        ASSERT_TRUE(Logout(m_boxes[k]));
    }
    // The event worker runs what is queued before it ends: every alarm is an event by then.
    Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance()->ReleaseThread("iobox.d.EventFactory", false);
    for (std::size_t k = 0; k < 3; ++k) {
        SCOPED_TRACE("input type " + std::to_string(cases[k].first));
        const auto points = EventPoints(m_boxes[k]);
        const std::vector<int>& alarms = cases[k].second;
        if (alarms.empty()) {
            EXPECT_TRUE(points.empty());
            continue;
        }
        EXPECT_TRUE(modbustest::RepeatsFromFirst(points, alarms));
        EXPECT_EQ(points.back(), alarms.back());
        // Every poll is delivered, but for the first if it ran before the guid was recorded
        // and the last if the logout cut it short once its request had gone out.
        EXPECT_GE(points.size() / alarms.size() + 2, m_boxes[k].sim->RequestCount(kReadInputs));
    }
}

// ---- supervision -----------------------------------------------------------------------

TEST_F(ModbusConn, ADeviceThatDropsAndRefusesGoesOfflineOnceAndComesBackOnce)
{
    // More than 15 s between connect attempts while offline, the plug-in's own interval, on a
    // tick that stands still unless moved; polls run every 100 ms.
    auto timing = modbustest::ShortTiming();
    timing.offlineRetrySeconds = iobox::ModbusTiming().offlineRetrySeconds;
    timing.tick = [] { return ++g_tickReads, g_tick.load(); };
    Mgr()->SetTiming(timing);
    const uint64_t start = g_tick.load();
    Box& box = AddBox();
    ASSERT_TRUE(Login(box));
    ASSERT_TRUE(WaitForPolls(box, 2));

    ASSERT_TRUE(box.sim->RefuseNew(true));
    box.sim->DropAll();
    ASSERT_TRUE(testsupport::WaitFor([&] { return !StatusCodes(box).empty(); }, kWait)) << m_log.Dump();
    const uint64_t pollsWhenOffline = box.sim->RequestCount(kReadInputs);
    const std::size_t attemptsWhenOffline = m_log.CountFormat(kRefused);
    // Connect attempts once the tick stands `ms` after the last activity, and 3 polls passed.
    const auto attemptsAt = [&](uint64_t ms) {
        g_tick = start + ms;
        const uint64_t reads = g_tickReads.load();
        EXPECT_TRUE(testsupport::WaitFor([&] { return g_tickReads.load() >= reads + 3; }, kWait));
        return m_log.CountFormat(kRefused) - attemptsWhenOffline;
    };
    EXPECT_EQ(attemptsAt(0), 0u);
    EXPECT_EQ(attemptsAt(10000), 0u);
    EXPECT_EQ(attemptsAt(15000), 0u);
    EXPECT_EQ(attemptsAt(15001), 1u) << m_log.Dump();
    EXPECT_EQ(attemptsAt(30001), 1u); // counted from when that attempt began
    EXPECT_EQ(attemptsAt(30002), 2u);
    EXPECT_EQ(StatusCodes(box), std::vector<int>{0x8000});
    EXPECT_EQ(box.sim->RequestCount(kReadInputs), pollsWhenOffline);

    // The failed exchange closed the socket, the three checks after it failed, then the
    // offline line named the same client.
    std::size_t refused = 0;
    std::string failedClient;
    for (const auto& line : m_log.Lines()) {
        if (line.format == kInputExchangeFailed && failedClient.empty()) {
            failedClient = line.text.substr(line.text.find("id[") + 3);
            failedClient = failedClient.substr(0, failedClient.find(']'));
        }
        refused += line.format == kRefused && !failedClient.empty() ? 1 : 0;
        if (line.format == kLogOut) {
            EXPECT_EQ(refused, 3u) << m_log.Dump();
            EXPECT_EQ(line.level, 4);
            EXPECT_TRUE(testsupport::MatchesLine(
                line.text, "[iobox::CModbusTCPConn::TryLogin]device logOut, handle[" + failedClient + "].",
                modbustest::kConnSource))
                << line.text;
            break;
        }
    }

    // While offline the client is gone, so an output request cannot be sent.
    ResetLastError();
    EXPECT_FALSE(Conn(box)->AlarmHostRequest_AlarmOutputControl(1, 2));
    EXPECT_EQ(LastErrorCode(), 4);
    EXPECT_TRUE(m_log.HasLine(4, "[iobox::CModbusTCPConn::AlarmHostRequest_AlarmOutputControl]OprateOutput, "
                                 "output_id: 2, enable : 1.", modbustest::kConnSource));

    ASSERT_TRUE(box.sim->RefuseNew(false));
    g_tick = start + 45003;
    ASSERT_TRUE(testsupport::WaitFor([&] { return StatusCodes(box).size() >= 2; }, kWait)) << m_log.Dump();
    ASSERT_TRUE(WaitForPolls(box, 3));
    EXPECT_EQ(StatusCodes(box), (std::vector<int>{0x8000, 0x8017}));
    EXPECT_EQ(m_log.CountFormat("[%s]device login success, handle[%d].[%s(%d)]"), 1u);
    EXPECT_EQ(m_log.CountFormat(kLogOut), 1u);
    for (const auto& record : m_host.deviceManager->StatusNotifications()) {
        EXPECT_EQ(record.msgType, 101u);
    }
    ExpectServedAgain(box, {});
}

// ---- outputs ---------------------------------------------------------------------------

TEST_F(ModbusConn, OutputsAreReadAndSwitchedOnTheDevicesCoils)
{
    SetPollPeriod(60000); // only the poll at login
    for (int companyType : {0, 15}) {
        SCOPED_TRACE("company type " + std::to_string(companyType));
        Box& box = AddBox(companyType);
        box.sim->SetOutput(1, true);
        box.sim->SetOutput(4, true);
        ASSERT_TRUE(Login(box));
        // A read from the wrong coils would be refused by the box, a write there change nothing.
        EXPECT_EQ(Outputs(box), (States{{1, 1}, {2, 0}, {3, 0}, {4, 1}, {5, 0}, {6, 0}}));
        EXPECT_TRUE(Switch(box, 3, 1));
        EXPECT_EQ(Outputs(box), (States{{1, 1}, {2, 0}, {3, 1}, {4, 1}, {5, 0}, {6, 0}}));
        EXPECT_TRUE(Switch(box, 4, 2)); // any state but 1 is off
        EXPECT_EQ(Outputs(box), (States{{1, 1}, {2, 0}, {3, 1}, {4, 0}, {5, 0}, {6, 0}}));
        EXPECT_EQ(box.sim->GetOutputs(), (std::vector<bool>{true, false, true, false, false, false}));
        EXPECT_EQ(box.sim->RequestCount(kWriteCoil), 2u);
        EXPECT_EQ(box.sim->RequestCount(kReadCoils), 3u);
        EXPECT_TRUE(m_log.HasLine(2, "[iobox::CModbusTCPConn::AlarmHostRequest_AlarmOutputControl]Oprate Output, "
                                     "output_id: 4, enable : 0", modbustest::kConnSource));
    }
}

TEST_F(ModbusConn, ChannelsNumberEveryInputAndOutput)
{
    SetPollPeriod(60000); // only the poll at login
    Box& box = AddBox();
    ASSERT_TRUE(Login(box));
    iobox::CModubsComm comm;
    std::vector<std::shared_ptr<dam::CAlarmInputObj>> inputs(1); // appended to
    std::vector<std::shared_ptr<dam::CAlarmOutputObj>> outputs;
    ASSERT_TRUE(comm.Request_GetAlarmInputs(inputs, box.device));
    ASSERT_TRUE(comm.Request_GetAlarmOutputs(outputs, box.device));
    ASSERT_EQ(inputs.size(), 13u);
    ASSERT_EQ(outputs.size(), 6u);
    for (int i = 1; i <= 12; ++i) {
        const auto& in = inputs[static_cast<std::size_t>(i)];
        EXPECT_EQ(in->GetVal_no(), i);
        EXPECT_EQ(in->GetVal_channel_type(), 4);
        EXPECT_EQ(in->GetVal_name(), "Alarminput-" + std::to_string(i));
        EXPECT_TRUE(in->GetVal_enable());
    }
    for (int i = 1; i <= 6; ++i) {
        const auto& out = outputs[static_cast<std::size_t>(i - 1)];
        EXPECT_EQ(out->GetVal_no(), i);
        EXPECT_EQ(out->GetVal_channel_type(), 5);
        EXPECT_EQ(out->GetVal_name(), "Alarmoutput-" + std::to_string(i));
    }
}

TEST_F(ModbusConn, UnsupportedCompanyTypeRefusesOutputsWithoutSendingAnything)
{
    Box& served = AddBox();
    served.sim->SetInput(5, true);
    Box& box = AddDevice(served.sim, 3);
    ASSERT_TRUE(Login(box));
    ResetLastError();
    EXPECT_TRUE(Outputs(box).empty());
    EXPECT_EQ(LastErrorCode(), 2);
    ResetLastError();
    EXPECT_FALSE(Switch(box, 3, 1));
    EXPECT_EQ(LastErrorCode(), 2);
    EXPECT_TRUE(m_log.HasLine(4, "[iobox::CModbusTCPConn::AlarmHostRequest_GetAlarmOutputStatus]GetAlarmOutputStatus "
                                 "failed, sub device type error, device company type: 3.", modbustest::kConnSource));
    EXPECT_TRUE(m_log.HasLine(4, "[iobox::CModbusTCPConn::AlarmHostRequest_AlarmOutputControl]OprateOutput failed, "
                                 "sub device type error, device company type: 3.", modbustest::kConnSource));
    // The inputs are served for this company type all the same.
    ASSERT_TRUE(WaitForEvents(box, 2));
    EXPECT_EQ(box.sim->RequestCount(kReadCoils), 0u);
    EXPECT_EQ(box.sim->RequestCount(kWriteCoil), 0u);
}

// ---- the manager: handles, alarms, device records -----------------------------------------

TEST_F(ModbusConn, ABoxCostsOneThreadWhichLogoutStopsBeforeItReturns)
{
    Box& box = AddBox();
    const int threads = testsupport::ThreadCount();
    ASSERT_TRUE(Login(box));
    ASSERT_TRUE(WaitForPolls(box, 3));
    // Its poll thread and nothing else: on Windows an I/O completion port service would add a
    // timer thread of Asio's for every client's deadline timer.
    EXPECT_EQ(testsupport::ThreadCount(), threads + 1);
    std::weak_ptr<CModbusTCPConn> watched = Conn(box);
    const int handle = Handle(box);

    EXPECT_TRUE(Logout(box));
    const uint64_t polls = box.sim->RequestCount(kReadInputs);
    EXPECT_EQ(testsupport::ThreadCountSettledAt(threads), threads);
    EXPECT_TRUE(watched.expired());
    EXPECT_FALSE(Mgr()->Logout(handle));
    EXPECT_TRUE(box.sim->WaitForConnections(0, kWait));
    std::this_thread::sleep_for(milliseconds(500));
    EXPECT_EQ(box.sim->RequestCount(kReadInputs), polls);
}

TEST_F(ModbusConn, AlarmsAndStatusesOfADeviceNotRecordedYetAreDroppedTheNextPollDelivers)
{
    Box& box = AddBox();
    box.sim->SetInput(5, true);
    m_alarms.Install();
    const int handle = DirectLogin(box);
    ASSERT_GT(handle, 0);
    // Every poll before the guid is recorded drops its alarm, with a line.
    const std::string notFound = "[iobox::CTCPConnMgr::ShowAlarm]ShowAlarm user id not find, user id[" +
                                 std::to_string(handle) + "]";
    ASSERT_TRUE(testsupport::WaitFor([&] { return m_log.CountLine(5, notFound, kMgrSource) >= 2; }, kWait))
        << m_log.Dump();
    // Records without a guid or with a negative device id are refused and change nothing.
    Mgr()->SaveAdamDeviceGuid(handle, {"", 8});
    Mgr()->SaveAdamDeviceGuid(handle, {"negative", -1});
    EXPECT_EQ(m_log.CountLine(5, "[iobox::CTCPConnMgr::SaveAdamDeviceGuid]SaveAdamDeviceGuid guid is empty, user id[" +
                                     std::to_string(handle) + "]", kMgrSource), 2u) << m_log.Dump();
    auto conn = Mgr()->GetConn(handle);
    Mgr()->ReportDeviceStatus(conn.get(), 2);
    EXPECT_TRUE(m_host.deviceManager->StatusNotifications().empty());
    EXPECT_TRUE(m_alarms.Records().empty());

    // Recording the guid calls nothing; the next poll delivers, on its own thread.
    Mgr()->SaveAdamDeviceGuid(handle, {"box-guid", 42});
    ASSERT_TRUE(m_alarms.WaitForCount(2));
    const auto records = m_alarms.Records();
    for (const auto& record : records) {
        EXPECT_EQ(record.address, handle);
        EXPECT_EQ(record.guid, "box-guid");
        EXPECT_EQ(record.point, 5);
    }
    for (const auto& thread : m_alarms.Threads()) {
        EXPECT_NE(thread, std::this_thread::get_id());
    }
    Mgr()->ReportDeviceStatus(conn.get(), 2);
    ASSERT_EQ(m_host.deviceManager->StatusNotifications().size(), 1u);
    EXPECT_EQ(m_host.deviceManager->StatusNotifications()[0].deviceId, 42);
    EXPECT_EQ(m_host.deviceManager->StatusNotifications()[0].statusCode, 0x8000);
}

TEST_F(ModbusConn, AHostLoggingOutFromInsideTheStatusNotificationEndsThePollSafely)
{
    Box& box = AddBox();
    ASSERT_TRUE(Login(box));
    const int handle = Handle(box); // no reference kept: a poll on a freed connection shows
    // On the poll's thread, inside the notification that the box is back; the poll goes on
    // to read the inputs once the notification returns, which Unit waits for.
    std::atomic<int> loggedOut{0};
    std::atomic<bool> returned{false};
    m_host.deviceManager->SetStatusObserver([&](const OstraPlatform::CDeviceManager::StatusRecord& record) {
        if (record.statusCode == 0x8017 && Logout(box)) {
            ++loggedOut;
            std::this_thread::sleep_for(milliseconds(300));
            returned = true;
        }
    });
    ASSERT_TRUE(box.sim->RefuseNew(true));
    box.sim->DropAll();
    ASSERT_TRUE(testsupport::WaitFor([&] { return !StatusCodes(box).empty(); }, kWait)) << m_log.Dump();
    ASSERT_TRUE(box.sim->RefuseNew(false));
    ASSERT_TRUE(testsupport::WaitFor([&] { return loggedOut.load() == 1; }, kWait)) << m_log.Dump();
    EXPECT_FALSE(Mgr()->GetConn(handle));
    Mgr()->Shutdown();
    EXPECT_TRUE(returned.load());
    EXPECT_TRUE(box.sim->WaitForConnections(0, kWait));
    m_host.deviceManager->SetStatusObserver(nullptr);
}

TEST_F(ModbusConn, UnitWaitsForAllPollsStuckInTheHostAgainstOneDeadline)
{
    constexpr int kBoxes = 4;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> stuck{0};
    struct Stuck {
        std::shared_future<void>* released;
        std::atomic<int>* count;
    } context{&released, &stuck};
    Mgr()->SetAlarmCallback(
        [](ModbusAlarmInfo*, void* data) {
            auto* c = static_cast<Stuck*>(data);
            ++*c->count;
            c->released->wait_for(std::chrono::seconds(10));
        },
        &context);
    for (int i = 0; i < kBoxes; ++i) {
        Box& box = AddBox();
        box.sim->SetInput(1, true);
        const int handle = DirectLogin(box);
        ASSERT_GT(handle, 0);
        Mgr()->SaveAdamDeviceGuid(handle, {"box-" + std::to_string(i), i});
    }
    ASSERT_TRUE(testsupport::WaitFor([&] { return stuck.load() == kBoxes; }, kWait));

    const auto begin = std::chrono::steady_clock::now();
    Mgr()->Shutdown();
    const auto took = std::chrono::steady_clock::now() - begin;
    release.set_value();
    EXPECT_GE(took, milliseconds(iobox::kThreadEndDeadlineMs - 200)); // the deadline, not one per poll
    EXPECT_LT(took, milliseconds(iobox::kThreadEndDeadlineMs + 500));
    const auto lines = m_log.WithFormat("[%s]waited %lld ms: %d poll threads and %d logins or logouts still running, "
                                        "left to end by themselves[%s(%d)]");
    ASSERT_EQ(lines.size(), 1u) << m_log.Dump();
    EXPECT_EQ(lines[0].level, 5);
    EXPECT_NE(lines[0].text.find(": 4 poll threads and 0 logins"), std::string::npos) << lines[0].text;
    std::cout << lines[0].text << '\n';
    EXPECT_EQ(iobox::CTimer::JoinSelfStopped(5000), 0u);
    m_direct.clear();
}

TEST_F(ModbusConn, ALoginUnderWayAtUnitEndsRefusedAndNoneIsAcceptedUntilInit)
{
    auto timing = modbustest::ShortTiming();
    timing.connectSettleMs = 10000; // the login is still settling when Unit comes
    Mgr()->SetTiming(timing);
    Box& box = AddBox();
    int handle = 0;
    std::thread login([&] { handle = Mgr()->RequestLogin(modbustest::Loopback(box.sim->Port()), 12, 6, 1, 0); });
    ASSERT_TRUE(box.sim->WaitForConnections(1, kWait));
    Mgr()->Shutdown();
    // Refused with its one line before Unit returned; nothing of it after.
    EXPECT_EQ(m_log.CountFormat("[%s]RequestLogin network,Init err,ip[%s], port[%d][%s(%d)]"), 1u) << m_log.Dump();
    login.join();
    EXPECT_EQ(handle, -1);
    m_log.Clear();
    EXPECT_TRUE(box.sim->WaitForConnections(0, kWait));
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(box.sim->RequestCount(kReadInputs), 0u);
    EXPECT_TRUE(m_log.Lines().empty()) << m_log.Dump();

    // A login that reaches the manager after Unit connects nowhere; Init accepts logins again.
    EXPECT_EQ(DirectLogin(box), -1);
    EXPECT_EQ(box.sim->TotalConnections(), 1u);
    ASSERT_TRUE(iobox::CDeviceCommManager::Instance()->Init());
    Mgr()->SetTiming(modbustest::ShortTiming());
    EXPECT_GT(DirectLogin(box), 0);
}

TEST_F(ModbusConn, TheHostsLoginConnectsWithTenSecondTimeOutsWithoutTls)
{
    Box& box = AddBox();
    ASSERT_TRUE(Login(box));
    const auto conn = Conn(box);
    ASSERT_NE(conn, nullptr);
    const auto& param = conn->Param();
    EXPECT_EQ(param.ip, "127.0.0.1");
    EXPECT_EQ(param.port, box.sim->Port());
    EXPECT_FALSE(param.tls);
    EXPECT_EQ(param.connectTimeoutMs, 10000u);
    EXPECT_EQ(param.sendTimeoutMs, 10000u);
    EXPECT_EQ(param.receiveTimeoutMs, 10000u);
}

TEST_F(ModbusConn, WithoutACallbackAlarmsAreDroppedSilently)
{
    Box& box = AddBox();
    box.sim->SetInput(1, true);
    Mgr()->SetAlarmCallback(nullptr, nullptr);
    const int handle = DirectLogin(box); // not even a guid: the empty slot is checked first
    ASSERT_GT(handle, 0);
    ASSERT_TRUE(WaitForPolls(box, 4));
    EXPECT_EQ(m_log.CountContaining("ShowAlarm"), 0u) << m_log.Dump();

    Mgr()->SaveAdamDeviceGuid(handle, {"box-guid", 7});
    m_alarms.Install();
    EXPECT_TRUE(m_alarms.WaitForCount(1));
}

TEST_F(ModbusConn, AProcessExitingWithoutUnitEndsAtOnceWhateverItsPollsAreDoing)
{
    // The child runs this test again from the start, with simulators of its own.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Box& polling = AddBox();
    Box& stalled = AddBox();
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EXIT(
        {
            // One connection in its pause, one poll waiting for a reply that the box holds back
            // past the 10 s receive time-out; neither is stopped, as a host without Unit leaves
            // them. Nothing at exit may wait for them.
            SetPollPeriod(60000); // only the poll at login
            stalled.sim->Stall(std::chrono::seconds(30));
            const bool ready = Login(polling) && polling.sim->WaitForRequests(kReadInputs, 1, kWait) &&
                               Login(stalled) && stalled.sim->WaitForRequests(kReadInputs, 1, kWait);
            std::exit(ready ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
}

TEST_F(ModbusConn, NoLockIsHeldAcrossTheCallbackOrTheHostCall)
{
    SetPollPeriod(60000); // only the poll at login
    Box& box = AddBox();
    const int handle = DirectLogin(box);
    ASSERT_GT(handle, 0);
    auto conn = Mgr()->GetConn(handle);
    Mgr()->SaveAdamDeviceGuid(handle, {"box-guid", 5});

    // Both call the manager again; a lock held across them would deadlock here.
    int callbackHandle = 0;
    Mgr()->SetAlarmCallback(
        [](ModbusAlarmInfo* info, void* found) {
            *static_cast<int*>(found) = CTCPConnMgr::Instance()->GetConn(info->address) ? info->address : -1;
            CTCPConnMgr::Instance()->SaveAdamDeviceGuid(info->address, {"from-callback", 3});
        },
        &callbackHandle);
    ModbusAlarmInfo info;
    info.point = 1;
    info.alarm = 1;
    Mgr()->ShowAlarm(conn.get(), &info);
    EXPECT_EQ(callbackHandle, handle);

    m_host.deviceManager->SetStatusObserver([&](const OstraPlatform::CDeviceManager::StatusRecord& record) {
        CTCPConnMgr::Instance()->SaveAdamDeviceGuid(handle, {"from-host", record.deviceId + 1});
    });
    Mgr()->ReportDeviceStatus(conn.get(), 1);
    Mgr()->ReportDeviceStatus(conn.get(), 1);
    const auto records = m_host.deviceManager->StatusNotifications();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].deviceId, 3);
    EXPECT_EQ(records[1].deviceId, 4);
    m_host.deviceManager->SetStatusObserver(nullptr);
}

} // namespace
