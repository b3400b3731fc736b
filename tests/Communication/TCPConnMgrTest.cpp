#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "Communication/ModbusComm/TCPConnManager/ModbusTCPConn.h"
#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "ModbusTestSupport.h"
#include "support/Process.h"

namespace {

using iobox::CModbusTCPConn;
using iobox::CTCPConnMgr;
using iobox::ModbusAlarmInfo;
using modbustest::kMgrSource;
using modbustest::kReadInputs;
using modbustest::kWait;
using modbustest::Loopback;
using std::chrono::milliseconds;

const char* const kNotFound = "[%s]ShowAlarm user id not find, user id[%d][%s(%d)]";
const std::string kShowAlarm = "[iobox::CTCPConnMgr::ShowAlarm]";

class TCPConnMgr : public modbustest::ModbusFixture {
protected:
    CTCPConnMgr* Mgr() { return CTCPConnMgr::Instance(); }
    // A connection whose poll finds nothing in alarm, for calling the manager by hand.
    int QuietLogin()
    {
        m_timing.pollPeriodMs = 60000;
        Mgr()->SetTiming(m_timing);
        return Login();
    }
    ModbusAlarmInfo Record(int point)
    {
        ModbusAlarmInfo info;
        info.address = 0;
        info.point = point;
        info.type = 0;
        info.alarm = 1;
        return info;
    }
};

TEST_F(TCPConnMgr, LoginWithoutAddressOrPortCreatesNothing)
{
    const struct {
        const char* ip;
        uint16_t port;
        const char* line;
    } cases[] = {
        {"", 502, "[iobox::CTCPConnMgr::RequestLogin]RequestLogin network,param err, ip[], port[502]"},
        {"127.0.0.1", 0, "[iobox::CTCPConnMgr::RequestLogin]RequestLogin network,param err, ip[127.0.0.1], port[0]"},
        {"", 0, "[iobox::CTCPConnMgr::RequestLogin]RequestLogin network,param err, ip[], port[0]"},
    };
    const int threads = testsupport::ThreadCount();
    for (const auto& c : cases) {
        auto param = Loopback(c.port);
        param.ip = c.ip;
        EXPECT_EQ(Mgr()->RequestLogin(param, 12, 6, 1, 0), -1) << c.line;
        EXPECT_EQ(m_log.CountLine(5, c.line, kMgrSource), 1u) << m_log.Dump();
    }
    EXPECT_EQ(m_log.Lines().size(), 3u) << m_log.Dump();
    EXPECT_EQ(testsupport::ThreadCount(), threads);
    EXPECT_FALSE(Mgr()->GetConn(1));
}

TEST_F(TCPConnMgr, LoginToARefusingDeviceFails)
{
    ASSERT_TRUE(StartSim());
    ASSERT_TRUE(m_sim->RefuseNew(true));
    const int threads = testsupport::ThreadCount();
    EXPECT_EQ(Login(), -1);
    EXPECT_TRUE(m_log.HasLine(5,
                              "[iobox::CTCPConnMgr::RequestLogin]RequestLogin network,Init err,ip[127.0.0.1], port[" +
                                  std::to_string(m_sim->Port()) + "]",
                              kMgrSource))
        << m_log.Dump();
    EXPECT_EQ(testsupport::ThreadCount(), threads);
    EXPECT_FALSE(Mgr()->GetConn(1));
    // The failed login used no handle.
    ASSERT_TRUE(m_sim->RefuseNew(false));
    EXPECT_EQ(Login(), 1);
}

TEST_F(TCPConnMgr, HandlesStartAtOneAndWrapSkippingThoseInUse)
{
    m_timing.pollPeriodMs = 60000;
    Mgr()->SetTiming(m_timing);
    ASSERT_TRUE(StartSim());
    EXPECT_EQ(Login(), 1);
    EXPECT_EQ(Login(), 2);
    EXPECT_EQ(Login(), 3);
    EXPECT_TRUE(Mgr()->Logout(2));

    Mgr()->SetLastHandleForTest(1000000);
    EXPECT_EQ(Login(), 1000001);
    // After 1000001 the count starts again at 1; 1 and 3 are still in use, 2 is free again.
    EXPECT_EQ(Login(), 2);
    EXPECT_EQ(Login(), 4);
    Mgr()->SetLastHandleForTest(1000001);
    EXPECT_EQ(Login(), 5);

    for (int handle : {1, 2, 3, 4, 5, 1000001}) {
        EXPECT_TRUE(Mgr()->GetConn(handle)) << handle;
    }
    EXPECT_FALSE(Mgr()->GetConn(6));
    EXPECT_FALSE(Mgr()->GetConn(0));
    EXPECT_FALSE(Mgr()->GetConn(-1));
    // Every handle names its own connection.
    EXPECT_NE(Mgr()->GetConn(1), Mgr()->GetConn(2));
    EXPECT_EQ(m_sim->ConnectionCount(), 6);
}

TEST_F(TCPConnMgr, LogoutStopsThePollBeforeItReturns)
{
    ASSERT_TRUE(StartSim());
    const int threads = testsupport::ThreadCount();
    const int handle = LoginAndSave();
    ASSERT_GT(handle, 0);
    ASSERT_TRUE(m_sim->WaitForRequests(kReadInputs, 3, kWait));
    std::weak_ptr<CModbusTCPConn> watched = Mgr()->GetConn(handle);

    EXPECT_TRUE(Mgr()->Logout(handle));
    const uint64_t polls = m_sim->RequestCount(kReadInputs);
    EXPECT_EQ(testsupport::ThreadCount(), threads);
    EXPECT_TRUE(watched.expired());
    EXPECT_FALSE(Mgr()->GetConn(handle));
    EXPECT_FALSE(Mgr()->Logout(handle));
    EXPECT_FALSE(Mgr()->Logout(12345));
    EXPECT_TRUE(m_sim->WaitForConnections(0, kWait));
    std::this_thread::sleep_for(milliseconds(5 * m_timing.pollPeriodMs));
    EXPECT_EQ(m_sim->RequestCount(kReadInputs), polls);
}

TEST_F(TCPConnMgr, AnAlarmBeforeTheGuidIsSavedIsNotDelivered)
{
    ASSERT_TRUE(StartSim());
    m_sim->SetInput(5, true);
    m_alarms.Install();
    const int handle = Login();
    ASSERT_GT(handle, 0);
    const std::string line = kShowAlarm + "ShowAlarm user id not find, user id[" + std::to_string(handle) + "]";
    ASSERT_TRUE(testsupport::WaitFor([&] { return m_log.CountLine(5, line, kMgrSource) >= 2; }, kWait))
        << m_log.Dump();
    EXPECT_EQ(m_alarms.Count(), 0u);

    Mgr()->SaveAdamDeviceGuid(handle, {GuidOf(handle), DeviceIdOf(handle)});
    ASSERT_TRUE(m_alarms.WaitForCount(2, kWait));
    const auto record = m_alarms.Records().front();
    EXPECT_EQ(record.address, handle);
    EXPECT_EQ(record.guid, GuidOf(handle));
    EXPECT_EQ(record.point, 5);
    EXPECT_EQ(record.type, 0);
    EXPECT_EQ(record.alarm, 1);
}

TEST_F(TCPConnMgr, WithoutACallbackAlarmsAreDroppedSilently)
{
    ASSERT_TRUE(StartSim());
    m_sim->SetInput(1, true);
    const int handle = Login(); // not even a guid: the empty slot is checked first
    ASSERT_GT(handle, 0);
    ASSERT_TRUE(m_sim->WaitForRequests(kReadInputs, 4, kWait));
    EXPECT_EQ(m_log.CountContaining("ShowAlarm"), 0u) << m_log.Dump();
    EXPECT_EQ(m_log.CountFormat(kNotFound), 0u);

    // The input is in alarm: with a callback the next polls report it.
    Mgr()->SaveAdamDeviceGuid(handle, {GuidOf(handle), DeviceIdOf(handle)});
    m_alarms.Install();
    EXPECT_TRUE(m_alarms.WaitForCount(1, kWait));
}

TEST_F(TCPConnMgr, ShowAlarmFillsHandleAndGuidAndKeepsTheRecordOnBadSaves)
{
    ASSERT_TRUE(StartSim());
    const int handle = QuietLogin();
    ASSERT_GT(handle, 0);
    auto conn = Mgr()->GetConn(handle);
    m_alarms.Install();
    Mgr()->SaveAdamDeviceGuid(handle, {"first", 7});
    Mgr()->SaveAdamDeviceGuid(handle, {"", 8});
    Mgr()->SaveAdamDeviceGuid(handle, {"negative", -1});
    const std::string line = "[iobox::CTCPConnMgr::SaveAdamDeviceGuid]SaveAdamDeviceGuid guid is empty, user id[" +
                             std::to_string(handle) + "]";
    EXPECT_EQ(m_log.CountLine(5, line, kMgrSource), 2u) << m_log.Dump();

    ModbusAlarmInfo info = Record(9);
    Mgr()->ShowAlarm(conn.get(), &info);
    ASSERT_EQ(m_alarms.Count(), 1u);
    EXPECT_EQ(m_alarms.Records()[0].address, handle);
    EXPECT_EQ(m_alarms.Records()[0].guid, "first");
    EXPECT_EQ(m_alarms.Records()[0].point, 9);

    Mgr()->SaveAdamDeviceGuid(handle, {"second", 9}); // a valid record replaces the earlier one
    Mgr()->ShowAlarm(conn.get(), &info);
    ASSERT_EQ(m_alarms.Count(), 2u);
    EXPECT_EQ(m_alarms.Records()[1].guid, "second");

    // A connection the manager does not know: nothing, silently.
    CModbusTCPConn stranger(m_timing);
    const auto lines = m_log.Lines().size();
    Mgr()->ShowAlarm(&stranger, &info);
    Mgr()->ShowAlarm(nullptr, &info);
    EXPECT_EQ(m_alarms.Count(), 2u);
    EXPECT_EQ(m_log.Lines().size(), lines);
}

TEST_F(TCPConnMgr, EachConnectionsAlarmsCarryItsOwnHandleThroughLogoutsAndWrap)
{
    ASSERT_TRUE(StartSim());
    m_alarms.Install();
    std::vector<int> handles;
    for (int i = 0; i < 4; ++i) {
        handles.push_back(QuietLogin());
    }
    ASSERT_EQ(handles, (std::vector<int>{1, 2, 3, 4}));
    auto loggedOut = Mgr()->GetConn(2);
    ASSERT_TRUE(Mgr()->Logout(2));
    Mgr()->SetLastHandleForTest(1000001);
    handles.push_back(QuietLogin()); // wraps to the free handle 2
    ASSERT_EQ(handles.back(), 2);
    for (int handle : {1, 2, 3, 4}) {
        Mgr()->SaveAdamDeviceGuid(handle, {"box-" + std::to_string(handle), handle});
    }

    // The connection now under handle 2 is not the one logged out from it.
    const struct {
        std::shared_ptr<CModbusTCPConn> conn;
        int handle; // -1: not delivered
    } cases[] = {
        {Mgr()->GetConn(4), 4}, {Mgr()->GetConn(1), 1}, {Mgr()->GetConn(2), 2},
        {loggedOut, -1},        {Mgr()->GetConn(3), 3},
    };
    std::size_t delivered = 0;
    for (const auto& c : cases) {
        ModbusAlarmInfo info = Record(5);
        Mgr()->ShowAlarm(c.conn.get(), &info);
        if (c.handle < 0) {
            EXPECT_EQ(m_alarms.Count(), delivered);
            continue;
        }
        ASSERT_EQ(m_alarms.Count(), ++delivered) << c.handle;
        EXPECT_EQ(m_alarms.Records().back().address, c.handle);
        EXPECT_EQ(m_alarms.Records().back().guid, "box-" + std::to_string(c.handle));
    }
}

TEST_F(TCPConnMgr, DeviceStatusGoesToTheHostOnlyForARecordedDevice)
{
    ASSERT_TRUE(StartSim());
    const int handle = QuietLogin();
    ASSERT_GT(handle, 0);
    auto conn = Mgr()->GetConn(handle);

    Mgr()->ReportDeviceStatus(conn.get(), 2); // no record yet
    CModbusTCPConn stranger(m_timing);
    Mgr()->ReportDeviceStatus(&stranger, 2);
    EXPECT_TRUE(StatusCodes().empty());

    Mgr()->SaveAdamDeviceGuid(handle, {GuidOf(handle), 42});
    Mgr()->ReportDeviceStatus(conn.get(), 2);
    Mgr()->ReportDeviceStatus(conn.get(), 1);
    const auto records = m_host.deviceManager->StatusNotifications();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].msgType, 101u);
    EXPECT_EQ(records[0].deviceId, 42);
    EXPECT_EQ(records[0].statusCode, 0x8000);
    EXPECT_EQ(records[1].msgType, 101u);
    EXPECT_EQ(records[1].deviceId, 42);
    EXPECT_EQ(records[1].statusCode, 0x8017);

    // After logout the record is gone with the handle.
    EXPECT_TRUE(Mgr()->Logout(handle));
    Mgr()->ReportDeviceStatus(conn.get(), 2);
    EXPECT_EQ(m_host.deviceManager->StatusNotifications().size(), 2u);
}

TEST_F(TCPConnMgr, AProcessExitingWithLiveConnectionsEndsCleanly)
{
    // The child runs this test again from the start, with a simulator of its own.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ASSERT_TRUE(StartSim());
    m_sim->SetInput(1, true);
    m_alarms.Install();
    EXPECT_EXIT(
        {
            const bool polling = LoginAndSave() > 0 && LoginAndSave() > 0 && m_alarms.WaitForCount(2, kWait);
            // The registry goes at exit with both connections polling; their clients must still
            // be there to be removed.
            std::exit(polling ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// The callback and the host's device manager may call the manager again: no lock is held.
struct Reentry {
    int handle = -1;
    bool found = false;
};

void ReenteringCallback(ModbusAlarmInfo* info, void* userData)
{
    auto* reentry = static_cast<Reentry*>(userData);
    auto* mgr = CTCPConnMgr::Instance();
    reentry->found = static_cast<bool>(mgr->GetConn(info->address));
    mgr->SaveAdamDeviceGuid(info->address, {"from-callback", 3});
}

TEST_F(TCPConnMgr, NoLockIsHeldAcrossTheCallbackOrTheHostCall)
{
    ASSERT_TRUE(StartSim());
    const int handle = QuietLogin();
    ASSERT_GT(handle, 0);
    auto conn = Mgr()->GetConn(handle);
    Mgr()->SaveAdamDeviceGuid(handle, {GuidOf(handle), 5});

    Reentry reentry;
    Mgr()->SetAlarmCallback(&ReenteringCallback, &reentry);
    ModbusAlarmInfo info = Record(1);
    Mgr()->ShowAlarm(conn.get(), &info);
    EXPECT_TRUE(reentry.found);

    bool hostFound = false;
    m_host.deviceManager->SetStatusObserver([&](const OstraPlatform::CDeviceManager::StatusRecord& record) {
        hostFound = static_cast<bool>(CTCPConnMgr::Instance()->GetConn(handle));
        CTCPConnMgr::Instance()->SaveAdamDeviceGuid(handle, {"from-host", record.deviceId + 1});
    });
    Mgr()->ReportDeviceStatus(conn.get(), 1);
    EXPECT_TRUE(hostFound);
    // The callback's record (device id 3) was the one reported; the host's replaced it.
    ASSERT_EQ(m_host.deviceManager->StatusNotifications().size(), 1u);
    EXPECT_EQ(m_host.deviceManager->StatusNotifications()[0].deviceId, 3);
    Mgr()->ReportDeviceStatus(conn.get(), 1);
    EXPECT_EQ(m_host.deviceManager->StatusNotifications()[1].deviceId, 4);
    m_host.deviceManager->SetStatusObserver(nullptr);
}

} // namespace
