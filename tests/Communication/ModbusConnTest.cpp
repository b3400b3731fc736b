// The Modbus connections and their manager against the simulated box: polling, supervision,
// outputs, the alarm callback and the life of a connection.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Communication/ModbusComm/TCPConnManager/ModbusTCPConn.h"
#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "Marl/Base/Error.h"
#include "ModbusTestSupport.h"
#include "dam/Operation.h"
#include "support/Process.h"

namespace {

using iobox::CModbusTCPConn;
using iobox::CTCPConnMgr;
using iobox::ModbusAlarmInfo;
using modbustest::kMgrSource;
using modbustest::kReadCoils;
using modbustest::kReadInputs;
using modbustest::kWait;
using modbustest::kWriteCoil;
using modbustest::SimConfig;
using std::chrono::milliseconds;
using OutputStates = std::map<unsigned int, std::shared_ptr<dam::CAlarmOutState>>;
using States = std::map<unsigned int, unsigned int>;

const char* const kLogOut = "[%s]device logOut, handle[%d].[%s(%d)]";
const char* const kInputExchangeFailed = "[%s]GetInputStatus SynSendData failed, handle id[%d].[%s(%d)]";
const char* const kRefused = "[%s]adam conn_err, error code:%d[%s(%d)]";

int LastErrorCode() { return Marl::Base::Error::GetLastError().GetCode(); }
void ResetLastError() { Marl::Base::Error::SetLastError(Marl::Base::Error::ErrorCode(0, 0)); }

States StatesOf(const OutputStates& states)
{
    States out;
    for (const auto& entry : states) {
        out[entry.first] = entry.second->GetVal_u_alarmout_state();
    }
    return out;
}

class ModbusConn : public modbustest::ModbusFixture {
protected:
    CTCPConnMgr* Mgr() { return CTCPConnMgr::Instance(); }
    std::shared_ptr<CModbusTCPConn> Conn(int handle) { return Mgr()->GetConn(handle); }
    // A poll period long enough that only the first poll, at login, runs during the test.
    void PollOnlyAtLogin()
    {
        m_timing.pollPeriodMs = 60000;
        Mgr()->SetTiming(m_timing);
    }
};

// ---- polling ---------------------------------------------------------------------------

TEST_F(ModbusConn, InputsInAlarmAreReportedAtEveryPollAndOthersNever)
{
    // Inputs 1, 4, 7 and 12 are on. Three devices read them with the three input types.
    ASSERT_TRUE(StartSim());
    m_sim->SetInputs(std::vector<bool>{true, false, false, true, false, false, true, false, false, false, false, true});
    m_alarms.Install();
    const std::pair<int, std::vector<int>> cases[] = {
        {1, {1, 4, 7, 12}},
        {0, {2, 3, 5, 6, 8, 9, 10, 11}},
        {2, {}},
    };
    std::vector<int> handles;
    for (const auto& c : cases) {
        handles.push_back(LoginAndSave(c.first));
        ASSERT_GT(handles.back(), 0);
    }
    ASSERT_TRUE(testsupport::WaitFor([&] { return m_requests.Of(kReadInputs, 3).size() >= 6; }, kWait));
    for (int handle : handles) {
        EXPECT_TRUE(Mgr()->Logout(handle));
    }

    const auto records = m_alarms.Records();
    for (std::size_t k = 0; k < handles.size(); ++k) {
        const std::vector<int>& alarms = cases[k].second;
        std::vector<int> points;
        for (const auto& r : records) {
            if (r.address == handles[k]) {
                EXPECT_EQ(r.guid, GuidOf(handles[k]));
                EXPECT_EQ(r.alarm, 1);
                points.push_back(r.point);
            }
        }
        // Every delivered poll gives the whole alarm set, in point order; only a poll before
        // the guid was recorded may be missing.
        const std::size_t polls = m_requests.Of(kReadInputs, k + 1).size();
        const std::size_t delivered = alarms.empty() ? 0 : points.size() / alarms.size();
        std::vector<int> expected;
        for (std::size_t p = 0; p < delivered; ++p) {
            expected.insert(expected.end(), alarms.begin(), alarms.end());
        }
        EXPECT_EQ(points, expected) << "input type " << cases[k].first;
        if (!alarms.empty()) {
            EXPECT_GE(delivered + 1, polls) << "input type " << cases[k].first;
            EXPECT_GE(delivered, 4u);
        }
    }
}

// ---- supervision -----------------------------------------------------------------------

TEST_F(ModbusConn, ADeviceThatDropsAndRefusesGoesOfflineOnceAndComesBackOnce)
{
    // More than a second between connect attempts while offline; polls run every 100 ms.
    m_timing.offlineRetrySeconds = 1;
    Mgr()->SetTiming(m_timing);
    ASSERT_TRUE(StartSim());
    const int handle = LoginAndSave();
    ASSERT_GT(handle, 0);
    ASSERT_TRUE(WaitForPolls(2));

    ASSERT_TRUE(m_sim->RefuseNew(true));
    m_sim->DropAll();
    ASSERT_TRUE(testsupport::WaitFor([&] { return !StatusCodes().empty(); }, kWait)) << m_log.Dump();
    const uint64_t pollsWhenOffline = m_sim->RequestCount(kReadInputs);
    const std::size_t attemptsWhenOffline = m_log.CountFormat(kRefused);
    std::this_thread::sleep_for(milliseconds(2500));
    EXPECT_EQ(StatusCodes(), std::vector<int>{0x8000});
    EXPECT_EQ(m_sim->RequestCount(kReadInputs), pollsWhenOffline);
    const std::size_t attempts = m_log.CountFormat(kRefused) - attemptsWhenOffline;
    EXPECT_GE(attempts, 1u) << m_log.Dump();
    EXPECT_LE(attempts, 3u) << m_log.Dump();

    // The failed exchange closed the socket; the three checks after it failed; then offline,
    // with a line that names the same client.
    const auto lines = m_log.Lines();
    std::size_t exchange = lines.size();
    std::size_t logOut = lines.size();
    std::size_t refusedBetween = 0;
    for (std::size_t i = 0; i < lines.size() && logOut == lines.size(); ++i) {
        if (lines[i].format == kInputExchangeFailed && exchange == lines.size()) {
            exchange = i;
        } else if (lines[i].format == kRefused && exchange < i) {
            ++refusedBetween;
        } else if (lines[i].format == kLogOut) {
            logOut = i;
        }
    }
    ASSERT_LT(exchange, logOut) << m_log.Dump();
    ASSERT_LT(logOut, lines.size()) << m_log.Dump();
    EXPECT_EQ(refusedBetween, 3u) << m_log.Dump();
    EXPECT_EQ(lines[logOut].level, 4);
    const std::string& failed = lines[exchange].text;
    const std::string clientId = failed.substr(failed.find("id[") + 3, failed.find("].") - failed.find("id[") - 3);
    EXPECT_TRUE(testsupport::MatchesLine(lines[logOut].text,
                                         "[iobox::CModbusTCPConn::TryLogin]device logOut, handle[" + clientId + "].",
                                         modbustest::kConnSource))
        << lines[logOut].text;

    // While offline the client is gone, so an output request cannot be sent.
    auto conn = Conn(handle);
    ASSERT_TRUE(conn);
    ResetLastError();
    EXPECT_FALSE(conn->AlarmHostRequest_AlarmOutputControl(1, 2));
    EXPECT_EQ(LastErrorCode(), 4);
    EXPECT_TRUE(ConnLogged(4, "AlarmHostRequest_AlarmOutputControl", "OprateOutput, output_id: 2, enable : 1."));

    ASSERT_TRUE(m_sim->RefuseNew(false));
    ASSERT_TRUE(testsupport::WaitFor([&] { return StatusCodes().size() >= 2; }, kWait)) << m_log.Dump();
    ASSERT_TRUE(WaitForPolls(pollsWhenOffline + 3));
    EXPECT_EQ(StatusCodes(), (std::vector<int>{0x8000, 0x8017}));
    EXPECT_EQ(m_log.CountFormat("[%s]device login success, handle[%d].[%s(%d)]"), 1u);
    EXPECT_EQ(m_log.CountFormat(kLogOut), 1u);
    for (const auto& record : m_host.deviceManager->StatusNotifications()) {
        EXPECT_EQ(record.msgType, 101u);
        EXPECT_EQ(record.deviceId, DeviceIdOf(handle));
    }
    EXPECT_TRUE(conn->AlarmHostRequest_AlarmOutputControl(1, 2));
    EXPECT_TRUE(testsupport::WaitFor([&] { return m_sim->GetOutput(2); }, kWait));
    EXPECT_EQ(m_sim->RequestCount(kWriteCoil), 1u);
}

// ---- outputs ---------------------------------------------------------------------------

TEST_F(ModbusConn, OutputsAreReadAndSwitchedOnTheDevicesCoils)
{
    PollOnlyAtLogin();
    for (int companyType : {0, 15}) {
        SCOPED_TRACE("company type " + std::to_string(companyType));
        ASSERT_TRUE(StartSim(SimConfig(companyType)));
        m_sim->SetOutput(1, true);
        m_sim->SetOutput(4, true);
        const int handle = Login(1, companyType);
        ASSERT_GT(handle, 0);
        auto conn = Conn(handle);
        ASSERT_TRUE(conn);

        OutputStates states;
        ASSERT_TRUE(conn->AlarmHostRequest_GetAlarmOutputStatus(states));
        EXPECT_EQ(StatesOf(states), (States{{1, 1}, {2, 0}, {3, 0}, {4, 1}, {5, 0}, {6, 0}}));
        const uint16_t base = companyType == 15 ? 0x0010 : 0x0000;
        const auto reads = m_requests.Of(kReadCoils);
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(reads[0].address, base);
        EXPECT_EQ(reads[0].value, 6);

        // The device answers in order, so a read right after a write sees the write done.
        const struct {
            int enable;
            int outputNo;
            States after;
        } switches[] = {
            {1, 3, {{1, 1}, {2, 0}, {3, 1}, {4, 1}, {5, 0}, {6, 0}}},
            {2, 4, {{1, 1}, {2, 0}, {3, 1}, {4, 0}, {5, 0}, {6, 0}}}, // any state but 1 is off
        };
        for (const auto& sw : switches) {
            EXPECT_TRUE(conn->AlarmHostRequest_AlarmOutputControl(sw.enable, sw.outputNo));
            OutputStates now;
            ASSERT_TRUE(conn->AlarmHostRequest_GetAlarmOutputStatus(now));
            EXPECT_EQ(StatesOf(now), sw.after) << "after switching output " << sw.outputNo;
        }
        const auto writes = m_requests.Of(kWriteCoil);
        ASSERT_EQ(writes.size(), 2u);
        EXPECT_EQ(writes[0].address, base + 2);
        EXPECT_EQ(writes[0].value, 0xFF00);
        EXPECT_EQ(writes[1].address, base + 3);
        EXPECT_EQ(writes[1].value, 0x0000);
        EXPECT_EQ(m_sim->GetOutputs(), (std::vector<bool>{true, false, true, false, false, false}));
        EXPECT_TRUE(ConnLogged(2, "AlarmHostRequest_AlarmOutputControl", "Oprate Output, output_id: 4, enable : 0"));
        EXPECT_TRUE(Mgr()->Logout(handle));
    }
}

TEST_F(ModbusConn, UnsupportedCompanyTypeRefusesOutputsWithoutSendingAnything)
{
    PollOnlyAtLogin();
    ASSERT_TRUE(StartSim());
    const int handle = Login(1, 3);
    ASSERT_GT(handle, 0);
    auto conn = Conn(handle);
    ASSERT_TRUE(conn);
    ASSERT_TRUE(WaitForPolls(1));

    ResetLastError();
    OutputStates states;
    EXPECT_FALSE(conn->AlarmHostRequest_GetAlarmOutputStatus(states));
    EXPECT_EQ(LastErrorCode(), 2);
    EXPECT_TRUE(states.empty());
    ResetLastError();
    EXPECT_FALSE(conn->AlarmHostRequest_AlarmOutputControl(1, 3));
    EXPECT_EQ(LastErrorCode(), 2);
    EXPECT_TRUE(ConnLogged(4, "AlarmHostRequest_GetAlarmOutputStatus",
                           "GetAlarmOutputStatus failed, sub device type error, device company type: 3."));
    EXPECT_TRUE(ConnLogged(4, "AlarmHostRequest_AlarmOutputControl",
                           "OprateOutput failed, sub device type error, device company type: 3."));
    // A poll by hand: the inputs are served for this company type all the same.
    conn->OnPollTimer();
    EXPECT_EQ(m_sim->RequestCount(kReadInputs), 2u);
    EXPECT_EQ(m_sim->RequestCount(kReadCoils), 0u);
    EXPECT_EQ(m_sim->RequestCount(kWriteCoil), 0u);
}

// ---- the manager: handles, alarms, device records -----------------------------------------

TEST_F(ModbusConn, LogoutStopsThePollBeforeItReturns)
{
    ASSERT_TRUE(StartSim());
    const int threads = testsupport::ThreadCount();
    const int handle = LoginAndSave();
    ASSERT_GT(handle, 0);
    ASSERT_TRUE(WaitForPolls(3));
    std::weak_ptr<CModbusTCPConn> watched = Conn(handle);

    EXPECT_TRUE(Mgr()->Logout(handle));
    const uint64_t polls = m_sim->RequestCount(kReadInputs);
    EXPECT_EQ(testsupport::ThreadCount(), threads);
    EXPECT_TRUE(watched.expired());
    EXPECT_FALSE(Mgr()->Logout(handle));
    EXPECT_TRUE(m_sim->WaitForConnections(0, kWait));
    std::this_thread::sleep_for(milliseconds(5 * m_timing.pollPeriodMs));
    EXPECT_EQ(m_sim->RequestCount(kReadInputs), polls);
}

TEST_F(ModbusConn, AlarmsAndStatusesOfADeviceNotRecordedAreNotDelivered)
{
    ASSERT_TRUE(StartSim());
    m_sim->SetInput(5, true);
    m_alarms.Install();
    const int handle = Login();
    ASSERT_GT(handle, 0);
    const std::string notFound = "[iobox::CTCPConnMgr::ShowAlarm]ShowAlarm user id not find, user id[" +
                                 std::to_string(handle) + "]";
    ASSERT_TRUE(testsupport::WaitFor([&] { return m_log.CountLine(5, notFound, kMgrSource) >= 2; }, kWait))
        << m_log.Dump();
    // Records without a guid or with a negative device id are refused and change nothing.
    Mgr()->SaveAdamDeviceGuid(handle, {"", 8});
    Mgr()->SaveAdamDeviceGuid(handle, {"negative", -1});
    EXPECT_EQ(m_log.CountLine(5, "[iobox::CTCPConnMgr::SaveAdamDeviceGuid]SaveAdamDeviceGuid guid is empty, user id[" +
                                     std::to_string(handle) + "]", kMgrSource), 2u) << m_log.Dump();
    auto conn = Conn(handle);
    Mgr()->ReportDeviceStatus(conn.get(), 2);
    EXPECT_TRUE(StatusCodes().empty());
    EXPECT_EQ(m_alarms.Count(), 0u);

    Mgr()->SaveAdamDeviceGuid(handle, {GuidOf(handle), DeviceIdOf(handle)});
    ASSERT_TRUE(m_alarms.WaitForCount(2));
    const auto record = m_alarms.Records().front();
    EXPECT_EQ(record.address, handle);
    EXPECT_EQ(record.guid, GuidOf(handle));
    EXPECT_EQ(record.point, 5);
    Mgr()->ReportDeviceStatus(conn.get(), 2);
    EXPECT_EQ(StatusCodes(), std::vector<int>{0x8000});
}

TEST_F(ModbusConn, WithoutACallbackAlarmsAreDroppedSilently)
{
    ASSERT_TRUE(StartSim());
    m_sim->SetInput(1, true);
    const int handle = Login(); // not even a guid: the empty slot is checked first
    ASSERT_GT(handle, 0);
    ASSERT_TRUE(WaitForPolls(4));
    EXPECT_EQ(m_log.CountContaining("ShowAlarm"), 0u) << m_log.Dump();

    Mgr()->SaveAdamDeviceGuid(handle, {GuidOf(handle), DeviceIdOf(handle)});
    m_alarms.Install();
    EXPECT_TRUE(m_alarms.WaitForCount(1));
}

TEST_F(ModbusConn, AProcessExitingWithLiveConnectionsEndsCleanly)
{
    // The child runs this test again from the start, with a simulator of its own.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ASSERT_TRUE(StartSim());
    m_sim->SetInput(1, true);
    m_alarms.Install();
    EXPECT_EXIT(
        {
            // The registry goes at exit with both connections polling.
            const bool polling = LoginAndSave() > 0 && LoginAndSave() > 0 && m_alarms.WaitForCount(2);
            std::exit(polling ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(ModbusConn, NoLockIsHeldAcrossTheCallbackOrTheHostCall)
{
    PollOnlyAtLogin();
    ASSERT_TRUE(StartSim());
    const int handle = Login();
    ASSERT_GT(handle, 0);
    auto conn = Conn(handle);
    Mgr()->SaveAdamDeviceGuid(handle, {GuidOf(handle), 5});

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

    // A connection the manager does not know: nothing, silently.
    callbackHandle = 0;
    CModbusTCPConn stranger(m_timing);
    const auto lines = m_log.Lines().size();
    Mgr()->ShowAlarm(&stranger, &info);
    Mgr()->ShowAlarm(nullptr, &info);
    Mgr()->ReportDeviceStatus(&stranger, 2);
    EXPECT_EQ(callbackHandle, 0);
    EXPECT_EQ(m_log.Lines().size(), lines);
    EXPECT_TRUE(StatusCodes().empty());

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
