#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "Communication/ModbusComm/TCPConnManager/ModbusFrame.h"
#include "Communication/ModbusComm/TCPConnManager/ModbusTCPConn.h"
#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "Marl/Base/Error.h"
#include "ModbusTestSupport.h"
#include "dam/Channel.h"
#include "dam/Operation.h"
#include "support/Process.h"

namespace {

using iobox::CModbusTCPConn;
using iobox::CTCPConnMgr;
using iobox::ModbusAlarmInfo;
using modbustest::kReadCoils;
using modbustest::kReadInputs;
using modbustest::kWait;
using modbustest::kWriteCoil;
using modbustest::Loopback;
using modbustest::SimConfig;
using modbustest::Texts;
using std::chrono::milliseconds;
using OutputStates = std::map<unsigned int, std::shared_ptr<dam::CAlarmOutState>>;

const char* const kLogOut = "[%s]device logOut, handle[%d].[%s(%d)]";
const char* const kLoginSuccess = "[%s]device login success, handle[%d].[%s(%d)]";
const char* const kInputExchangeFailed = "[%s]GetInputStatus SynSendData failed, handle id[%d].[%s(%d)]";
const char* const kClientConnectFailed = "[%s]network,connect err,ip[%s], port[%d][%s(%d)]";
const char* const kRefused = "[%s]adam conn_err, error code:%d[%s(%d)]";
constexpr int kOffline = 0x8000;
constexpr int kOnline = 0x8017;

int LastErrorCode() { return Marl::Base::Error::GetLastError().GetCode(); }

void ResetLastError() { Marl::Base::Error::SetLastError(Marl::Base::Error::ErrorCode(0, 0)); }

std::map<unsigned int, unsigned int> States(const OutputStates& states)
{
    std::map<unsigned int, unsigned int> out;
    for (const auto& entry : states) {
        out[entry.first] = entry.second->GetVal_u_alarmout_state();
    }
    return out;
}

// Index of the first captured line with this format at or after `from`; -1 when none.
long IndexOf(const std::vector<Marl::Base::CCaptureLogSink::Line>& lines, const std::string& format, long from = 0)
{
    for (long i = from; i < static_cast<long>(lines.size()); ++i) {
        if (lines[static_cast<std::size_t>(i)].format == format) {
            return i;
        }
    }
    return -1;
}

long CountBetween(const std::vector<Marl::Base::CCaptureLogSink::Line>& lines, const std::string& format, long from,
                  long to)
{
    long n = 0;
    for (long i = from; i < to; ++i) {
        n += lines[static_cast<std::size_t>(i)].format == format ? 1 : 0;
    }
    return n;
}

class ModbusConn : public modbustest::ModbusFixture {
protected:
    bool WaitForPolls(uint64_t count) { return m_sim->WaitForRequests(kReadInputs, count, kWait); }
    std::shared_ptr<CModbusTCPConn> Conn(int handle) { return CTCPConnMgr::Instance()->GetConn(handle); }
    // A poll period long enough that only the first poll, at login, runs during the test.
    void PollOnlyAtLogin()
    {
        m_timing.pollPeriodMs = 60000;
        CTCPConnMgr::Instance()->SetTiming(m_timing);
    }
};

// ---- polling ---------------------------------------------------------------------------

TEST_F(ModbusConn, InputsInAlarmAreReportedAtEveryPollAndOthersNever)
{
    // Inputs 1, 4, 7 and 12 are on. Three devices read them with the three input types.
    ASSERT_TRUE(StartSim());
    m_sim->SetInputs(std::vector<bool>{true, false, false, true, false, false, true, false, false, false, false, true});
    m_alarms.Install();

    const struct {
        int inputType;
        std::vector<int> alarms;
    } cases[] = {
        {1, {1, 4, 7, 12}},
        {0, {2, 3, 5, 6, 8, 9, 10, 11}},
        {2, {}},
    };
    std::vector<int> handles;
    for (const auto& c : cases) {
        handles.push_back(LoginAndSave(12, 6, c.inputType));
        ASSERT_GT(handles.back(), 0);
    }
    ASSERT_TRUE(WaitForPolls(3 * 6));
    ASSERT_TRUE(testsupport::WaitFor([&] { return m_requests.Count(3, kReadInputs) >= 6; }, kWait));
    for (int handle : handles) {
        EXPECT_TRUE(CTCPConnMgr::Instance()->Logout(handle));
    }

    const auto records = m_alarms.Records();
    for (std::size_t k = 0; k < handles.size(); ++k) {
        const auto& c = cases[k];
        std::vector<int> points;
        for (const auto& r : records) {
            if (r.address == handles[k]) {
                EXPECT_EQ(r.guid, GuidOf(handles[k]));
                EXPECT_EQ(r.type, 0);
                EXPECT_EQ(r.alarm, 1);
                points.push_back(r.point);
            }
        }
        // Every delivered poll gives the whole alarm set, in point order.
        const std::size_t perPoll = c.alarms.size();
        const std::size_t delivered = perPoll == 0 ? 0 : points.size() / perPoll;
        std::vector<int> expected;
        for (std::size_t p = 0; p < delivered; ++p) {
            expected.insert(expected.end(), c.alarms.begin(), c.alarms.end());
        }
        EXPECT_EQ(points, expected) << "input type " << c.inputType;
        // Each poll is delivered, except those before the handle or the guid were known.
        const std::size_t polls = m_requests.Count(k + 1, kReadInputs);
        const std::string notFound = "[iobox::CTCPConnMgr::ShowAlarm]ShowAlarm user id not find, user id[" +
                                     std::to_string(handles[k]) + "]";
        const std::size_t early =
            perPoll == 0 ? 0 : m_log.CountLine(5, notFound, modbustest::kMgrSource) / perPoll;
        if (perPoll == 0) {
            EXPECT_TRUE(points.empty());
            EXPECT_EQ(m_log.CountLine(5, notFound, modbustest::kMgrSource), 0u);
        } else {
            EXPECT_GE(delivered + early + 1, polls) << "input type " << c.inputType;
            EXPECT_LE(delivered + early, polls) << "input type " << c.inputType;
            EXPECT_GE(delivered, 4u);
        }
    }
}

TEST_F(ModbusConn, AConnectionWithoutInputsPollsForNoneAndReportsNothing)
{
    ASSERT_TRUE(StartSim(SimConfig(0, 0, 0)));
    m_alarms.Install();
    const int handle = LoginAndSave(0, 0, 0);
    ASSERT_GT(handle, 0);
    ASSERT_TRUE(WaitForPolls(3));

    for (const auto& r : m_requests.Of(kReadInputs)) {
        EXPECT_EQ(r.address, 0);
        EXPECT_EQ(r.value, 0);
        EXPECT_EQ(r.unit, 0);
    }
    EXPECT_EQ(m_alarms.Count(), 0u);
    EXPECT_EQ(m_log.CountFormat(kInputExchangeFailed), 0u) << m_log.Dump();
}

TEST_F(ModbusConn, PollsCarryConsecutiveTransactions)
{
    ASSERT_TRUE(StartSim());
    iobox::modbus::test_only::SetTransactionCounter(0xFFFE);
    ASSERT_GT(Login(), 0);
    ASSERT_TRUE(m_requests.WaitFor(kReadInputs, 4, kWait));
    const auto polls = m_requests.Of(kReadInputs);
    ASSERT_GE(polls.size(), 4u);
    EXPECT_EQ(polls[0].transaction, 0xFFFE);
    EXPECT_EQ(polls[1].transaction, 0xFFFF);
    EXPECT_EQ(polls[2].transaction, 0x0000);
    EXPECT_EQ(polls[3].transaction, 0x0001);
    EXPECT_EQ(polls[0].value, 12);
    EXPECT_EQ(polls[0].length, 12u);
}

// ---- supervision -----------------------------------------------------------------------

TEST_F(ModbusConn, ADeviceThatDropsAndRefusesGoesOfflineOnceAndComesBackOnce)
{
    ASSERT_TRUE(StartSim());
    m_alarms.Install();
    const int handle = LoginAndSave();
    ASSERT_GT(handle, 0);
    ASSERT_TRUE(WaitForPolls(2));

    ASSERT_TRUE(m_sim->RefuseNew(true));
    m_sim->DropAll();
    ASSERT_TRUE(testsupport::WaitFor([&] { return !StatusCodes().empty(); }, kWait)) << m_log.Dump();
    // Still refusing: more polls pass without a second notification.
    const uint64_t pollsWhenOffline = m_sim->RequestCount(kReadInputs);
    std::this_thread::sleep_for(milliseconds(5 * m_timing.pollPeriodMs));
    EXPECT_EQ(StatusCodes(), std::vector<int>{kOffline});
    EXPECT_EQ(m_sim->RequestCount(kReadInputs), pollsWhenOffline);

    // The failed exchange closed the socket; the three checks after it failed; then offline.
    const auto lines = m_log.Lines();
    const long exchange = IndexOf(lines, kInputExchangeFailed);
    const long logOut = IndexOf(lines, kLogOut);
    ASSERT_GE(exchange, 0) << m_log.Dump();
    ASSERT_GT(logOut, exchange) << m_log.Dump();
    EXPECT_EQ(CountBetween(lines, kRefused, exchange, logOut), 3) << m_log.Dump();
    EXPECT_EQ(m_log.CountFormat(kLogOut), 1u);
    EXPECT_EQ(lines[static_cast<std::size_t>(logOut)].level, 4);
    // Both lines name the same client.
    const std::string exchangeText = lines[static_cast<std::size_t>(exchange)].text;
    const std::string clientId = exchangeText.substr(exchangeText.find("id[") + 3);
    EXPECT_TRUE(testsupport::MatchesLine(lines[static_cast<std::size_t>(logOut)].text,
                                         "[iobox::CModbusTCPConn::TryLogin]device logOut, handle[" +
                                             clientId.substr(0, clientId.find(']')) + "].",
                                         modbustest::kConnSource))
        << lines[static_cast<std::size_t>(logOut)].text;

    // While offline the client is gone, so an output request cannot be sent.
    auto conn = Conn(handle);
    ASSERT_TRUE(conn);
    ResetLastError();
    EXPECT_FALSE(conn->AlarmHostRequest_AlarmOutputControl(1, 2));
    EXPECT_EQ(LastErrorCode(), 4);
    EXPECT_TRUE(ConnLogged(4, "AlarmHostRequest_AlarmOutputControl", "OprateOutput, output_id: 2, enable : 1."));
    EXPECT_EQ(m_sim->RequestCount(kWriteCoil), 0u);

    ASSERT_TRUE(m_sim->RefuseNew(false));
    ASSERT_TRUE(testsupport::WaitFor([&] { return StatusCodes().size() >= 2; }, kWait)) << m_log.Dump();
    ASSERT_TRUE(WaitForPolls(pollsWhenOffline + 3));
    EXPECT_EQ(StatusCodes(), (std::vector<int>{kOffline, kOnline}));
    EXPECT_EQ(m_log.CountFormat(kLoginSuccess), 1u);
    EXPECT_EQ(m_log.CountFormat(kLogOut), 1u);
    for (const auto& record : m_host.deviceManager->StatusNotifications()) {
        EXPECT_EQ(record.msgType, 101u);
        EXPECT_EQ(record.deviceId, DeviceIdOf(handle));
    }
    // Back online, the new client serves output requests again.
    EXPECT_TRUE(conn->AlarmHostRequest_AlarmOutputControl(1, 2));
    EXPECT_TRUE(testsupport::WaitFor([&] { return m_sim->GetOutput(2); }, kWait));
}

TEST_F(ModbusConn, WhileOfflineOnlyOneConnectAttemptPerRetryPeriod)
{
    m_timing.offlineRetrySeconds = 1; // more than 1 s between attempts, while polls run every 100 ms
    CTCPConnMgr::Instance()->SetTiming(m_timing);
    ASSERT_TRUE(StartSim());
    ASSERT_GT(LoginAndSave(), 0);
    ASSERT_TRUE(WaitForPolls(1));

    ASSERT_TRUE(m_sim->RefuseNew(true));
    m_sim->DropAll();
    ASSERT_TRUE(testsupport::WaitFor([&] { return !StatusCodes().empty(); }, kWait)) << m_log.Dump();
    const auto before = m_log.CountFormat(kClientConnectFailed);
    std::this_thread::sleep_for(milliseconds(2500));
    const auto attempts = m_log.CountFormat(kClientConnectFailed) - before;
    // About 25 polls; attempts at least 1 s apart by the wall clock's whole seconds.
    EXPECT_GE(attempts, 1u) << m_log.Dump();
    EXPECT_LE(attempts, 3u) << m_log.Dump();
    EXPECT_EQ(StatusCodes(), std::vector<int>{kOffline});
}

TEST_F(ModbusConn, ADroppedConnectionIsReconnectedByTheNextCheck)
{
    ASSERT_TRUE(StartSim());
    ASSERT_GT(LoginAndSave(), 0);
    ASSERT_TRUE(WaitForPolls(2));
    m_sim->DropAll();
    ASSERT_TRUE(testsupport::WaitFor([&] { return m_log.CountFormat(kInputExchangeFailed) >= 1; }, kWait));
    const uint64_t polls = m_sim->RequestCount(kReadInputs);
    ASSERT_TRUE(WaitForPolls(polls + 3));

    EXPECT_EQ(m_log.CountFormat(kInputExchangeFailed), 1u) << m_log.Dump();
    EXPECT_EQ(m_sim->TotalConnections(), 2u);
    EXPECT_EQ(m_log.CountFormat(kLogOut), 0u);
    EXPECT_TRUE(StatusCodes().empty());
}

TEST_F(ModbusConn, BadRepliesFailThePollAndTheNextCheckReconnects)
{
    ASSERT_TRUE(StartSim());
    m_alarms.Install();
    m_sim->SetInput(2, true);
    const int handle = LoginAndSave();
    ASSERT_GT(handle, 0);
    ASSERT_TRUE(m_alarms.WaitForCount(1, kWait));

    // A reply cut short in its body: the exchange fails and the socket is closed.
    m_sim->TruncateReply(true);
    ASSERT_TRUE(testsupport::WaitFor([&] { return m_log.CountFormat(kInputExchangeFailed) >= 2; }, kWait));
    m_sim->TruncateReply(false);
    const std::size_t delivered = m_alarms.Count();
    ASSERT_TRUE(m_alarms.WaitForCount(delivered + 2, kWait));
    for (const auto& r : m_alarms.Records()) {
        EXPECT_EQ(r.point, 2);
    }
    EXPECT_TRUE(StatusCodes().empty());
}

// ---- outputs ---------------------------------------------------------------------------

TEST_F(ModbusConn, OutputsAreReadAndSwitchedOnTheDevicesCoils)
{
    for (int companyType : {0, 15}) {
        SCOPED_TRACE("company type " + std::to_string(companyType));
        ASSERT_TRUE(StartSim(SimConfig(companyType)));
        m_sim->SetOutput(1, true);
        m_sim->SetOutput(4, true);
        const int handle = Login(12, 6, 1, companyType);
        ASSERT_GT(handle, 0);
        auto conn = Conn(handle);
        ASSERT_TRUE(conn);

        OutputStates states;
        ASSERT_TRUE(conn->AlarmHostRequest_GetAlarmOutputStatus(states));
        EXPECT_EQ(States(states), (std::map<unsigned int, unsigned int>{{1, 1}, {2, 0}, {3, 0}, {4, 1}, {5, 0}, {6, 0}}));
        const auto reads = m_requests.Of(kReadCoils);
        ASSERT_EQ(reads.size(), 1u);
        EXPECT_EQ(reads[0].address, companyType == 15 ? 0x0010 : 0x0000);
        EXPECT_EQ(reads[0].value, 6);
        EXPECT_EQ(reads[0].unit, 0);
        const std::string company = "device company type: " + std::to_string(companyType) + ".";
        EXPECT_TRUE(ConnLogged(3, "AlarmHostRequest_GetAlarmOutputStatus",
                               "AlarmHostRequest_GetAlarmOutputStatus , " + company));

        // The device answers in order, so a read right after a write sees the write done.
        const struct {
            int enable;
            int outputNo;
            std::map<unsigned int, unsigned int> after;
        } switches[] = {
            {1, 3, {{1, 1}, {2, 0}, {3, 1}, {4, 1}, {5, 0}, {6, 0}}},
            {2, 4, {{1, 1}, {2, 0}, {3, 1}, {4, 0}, {5, 0}, {6, 0}}}, // any state but 1 is off
            {0, 1, {{1, 0}, {2, 0}, {3, 1}, {4, 0}, {5, 0}, {6, 0}}},
        };
        for (const auto& sw : switches) {
            EXPECT_TRUE(conn->AlarmHostRequest_AlarmOutputControl(sw.enable, sw.outputNo));
            OutputStates now;
            ASSERT_TRUE(conn->AlarmHostRequest_GetAlarmOutputStatus(now));
            EXPECT_EQ(States(now), sw.after) << "after switching output " << sw.outputNo;
            EXPECT_EQ(m_sim->GetOutput(sw.outputNo), sw.after.at(static_cast<unsigned int>(sw.outputNo)) == 1);
        }
        EXPECT_TRUE(ConnLogged(2, "AlarmHostRequest_AlarmOutputControl", "Oprate Output, output_id: 4, enable : 0"));
        EXPECT_TRUE(ConnLogged(3, "AlarmHostRequest_AlarmOutputControl",
                               "AlarmHostRequest_AlarmOutputControl , " + company));
        const auto writes = m_requests.Of(kWriteCoil);
        ASSERT_EQ(writes.size(), 3u);
        const uint16_t base = companyType == 15 ? 0x0010 : 0x0000;
        EXPECT_EQ(writes[0].address, base + 2);
        EXPECT_EQ(writes[0].value, 0xFF00);
        EXPECT_EQ(writes[1].address, base + 3);
        EXPECT_EQ(writes[1].value, 0x0000);
        EXPECT_EQ(writes[2].address, base + 0);

        // The map is read into as it is: existing entries stay.
        OutputStates again;
        auto kept = std::make_shared<dam::CAlarmOutState>();
        kept->SetVal_u_alarmout_state(9);
        again[3] = kept;
        ASSERT_TRUE(conn->AlarmHostRequest_GetAlarmOutputStatus(again));
        EXPECT_EQ(States(again), (std::map<unsigned int, unsigned int>{{1, 0}, {2, 0}, {3, 9}, {4, 0}, {5, 0}, {6, 0}}));
        EXPECT_EQ(m_sim->GetOutputs(), (std::vector<bool>{false, false, true, false, false, false}));

        EXPECT_TRUE(CTCPConnMgr::Instance()->Logout(handle));
        m_sim.reset();
    }
}

TEST_F(ModbusConn, UnsupportedCompanyTypeRefusesOutputsButStillPolls)
{
    PollOnlyAtLogin();
    ASSERT_TRUE(StartSim());
    m_alarms.Install();
    m_sim->SetInput(5, true);
    const int handle = LoginAndSave(12, 6, 1, 3);
    ASSERT_GT(handle, 0);
    ASSERT_TRUE(WaitForPolls(1));
    auto conn = Conn(handle);
    ASSERT_TRUE(conn);
    // The first poll's alarm is dropped or delivered depending on when the guid was saved;
    // a poll by hand shows that inputs work for this company type.
    conn->OnPollTimer();
    ASSERT_GE(m_alarms.Count(), 1u);
    EXPECT_EQ(m_alarms.Records().back().point, 5);

    const uint32_t before = iobox::modbus::NextTransaction();
    ResetLastError();
    OutputStates states;
    EXPECT_FALSE(conn->AlarmHostRequest_GetAlarmOutputStatus(states));
    EXPECT_EQ(LastErrorCode(), 2);
    EXPECT_TRUE(states.empty());
    ResetLastError();
    EXPECT_FALSE(conn->AlarmHostRequest_AlarmOutputControl(1, 3));
    EXPECT_EQ(LastErrorCode(), 2);
    // Control takes its transaction before it looks at the company type; reading does not.
    EXPECT_EQ(iobox::modbus::NextTransaction(), before + 2);

    EXPECT_TRUE(ConnLogged(4, "AlarmHostRequest_GetAlarmOutputStatus",
                           "GetAlarmOutputStatus failed, sub device type error, device company type: 3."));
    EXPECT_TRUE(ConnLogged(4, "AlarmHostRequest_AlarmOutputControl",
                           "OprateOutput failed, sub device type error, device company type: 3."));
    EXPECT_TRUE(ConnLogged(2, "AlarmHostRequest_AlarmOutputControl", "Oprate Output, output_id: 3, enable : 1"));
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(m_sim->RequestCount(kReadCoils), 0u);
    EXPECT_EQ(m_sim->RequestCount(kWriteCoil), 0u);
    EXPECT_FALSE(m_sim->GetOutput(3));
}

TEST_F(ModbusConn, AFailedOutputReadLeavesTheConnectionAsItIs)
{
    PollOnlyAtLogin();
    ASSERT_TRUE(StartSim());
    const int handle = Login();
    ASSERT_GT(handle, 0);
    ASSERT_TRUE(WaitForPolls(1));
    auto conn = Conn(handle);
    ASSERT_TRUE(conn);

    m_sim->Silent(true); // no reply within the one-second wait
    ResetLastError();
    OutputStates states;
    EXPECT_FALSE(conn->AlarmHostRequest_GetAlarmOutputStatus(states));
    EXPECT_EQ(LastErrorCode(), 4);
    const auto failed = Texts(m_log, "[%s]GetAlarmHostMainStatus SynSendData failed.connect handle[%d][%s(%d)]");
    ASSERT_EQ(failed.size(), 1u) << m_log.Dump();
    EXPECT_EQ(failed[0].rfind("[iobox::CModbusTCPConn::AlarmHostRequest_GetAlarmOutputStatus]", 0), 0u);

    m_sim->Silent(false);
    m_sim->SetOutput(6, true);
    states.clear();
    EXPECT_TRUE(conn->AlarmHostRequest_GetAlarmOutputStatus(states));
    EXPECT_EQ(States(states)[6], 1u);
    EXPECT_EQ(m_sim->TotalConnections(), 1u);
    EXPECT_EQ(m_sim->ConnectionCount(), 1);
}

TEST_F(ModbusConn, PollsAndOutputRequestsShareTheConnectionWithoutMixingReplies)
{
    m_timing.pollPeriodMs = 1; // polls back to back
    CTCPConnMgr::Instance()->SetTiming(m_timing);
    ASSERT_TRUE(StartSim());
    // Inputs and coils differ and their replies differ in length, so a reply taken by the
    // wrong request shows.
    m_sim->SetInputs(std::vector<bool>{false, true, false, true, true, false, false, false, false, true});
    m_sim->SetOutput(1, true);
    m_sim->SetOutput(3, true);
    m_sim->SetOutput(6, true);
    m_alarms.Install();
    const int handle = LoginAndSave();
    ASSERT_GT(handle, 0);
    auto conn = Conn(handle);
    ASSERT_TRUE(conn);
    ASSERT_TRUE(m_alarms.WaitForCount(4, kWait));

    // Outputs 1, 3 and 6 stay on and 2 and 4 off through writes that confirm them; output 5
    // is switched on and off all along.
    std::atomic<int> readsOk{0};
    std::atomic<int> readsWrong{0};
    std::atomic<int> writesFailed{0};
    auto host = [&](int outputOn, int outputOff) {
        for (int i = 0; i < 100; ++i) {
            OutputStates states;
            auto read = States(states);
            if (conn->AlarmHostRequest_GetAlarmOutputStatus(states)) {
                read = States(states);
            }
            const bool five = read.count(5) == 1 && read[5] <= 1;
            read.erase(5);
            if (five && read == std::map<unsigned int, unsigned int>{{1, 1}, {2, 0}, {3, 1}, {4, 0}, {6, 1}}) {
                ++readsOk;
            } else {
                ++readsWrong;
            }
            if (!conn->AlarmHostRequest_AlarmOutputControl(1, outputOn) ||
                !conn->AlarmHostRequest_AlarmOutputControl(0, outputOff) ||
                !conn->AlarmHostRequest_AlarmOutputControl(i % 2, 5)) {
                ++writesFailed;
            }
        }
    };
    const uint64_t pollsBefore = m_sim->RequestCount(kReadInputs);
    std::thread first(host, 1, 2);
    std::thread second(host, 3, 4);
    first.join();
    second.join();
    // Writes are not awaited: let the device take the last ones before the logout resets
    // the connection.
    EXPECT_TRUE(m_sim->WaitForRequests(kWriteCoil, 600, kWait));
    EXPECT_TRUE(CTCPConnMgr::Instance()->Logout(handle));

    EXPECT_EQ(readsOk.load(), 200);
    EXPECT_EQ(readsWrong.load(), 0);
    EXPECT_EQ(writesFailed.load(), 0);
    EXPECT_EQ(m_sim->RequestCount(kWriteCoil), 600u);
    EXPECT_EQ(m_sim->GetOutputs(), (std::vector<bool>{true, false, true, false, true, true}));
    // Every poll delivered the four inputs in alarm, and nothing else.
    const uint64_t polls = m_sim->RequestCount(kReadInputs);
    EXPECT_GT(polls, pollsBefore + 10);
    const std::vector<int> inAlarm{2, 4, 5, 10};
    const auto records = m_alarms.Records();
    ASSERT_EQ(records.size() % inAlarm.size(), 0u);
    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].point, inAlarm[i % inAlarm.size()]) << i;
    }
    const std::size_t early = m_log.CountFormat("[%s]ShowAlarm user id not find, user id[%d][%s(%d)]") / 4;
    EXPECT_GE(records.size() / inAlarm.size() + early + 1, polls);
    EXPECT_EQ(m_log.CountFormat(kInputExchangeFailed), 0u) << m_log.Dump();
}

// ---- channels and life cycle -----------------------------------------------------------

TEST_F(ModbusConn, ChannelsNumberEveryInputAndOutput)
{
    PollOnlyAtLogin();
    ASSERT_TRUE(StartSim());
    const struct {
        int inputs;
        int outputs;
    } cases[] = {{3, 2}, {0, 0}, {12, 6}};
    for (const auto& c : cases) {
        const int handle = Login(c.inputs, c.outputs);
        ASSERT_GT(handle, 0);
        auto conn = Conn(handle);
        std::vector<std::shared_ptr<dam::CAlarmInputObj>> inputs(1); // appended to
        std::vector<std::shared_ptr<dam::CAlarmOutputObj>> outputs;
        EXPECT_TRUE(conn->GetAlarmInputChannels(inputs));
        EXPECT_TRUE(conn->GetAlarmOutputChannels(outputs));
        ASSERT_EQ(inputs.size(), static_cast<std::size_t>(c.inputs) + 1);
        ASSERT_EQ(outputs.size(), static_cast<std::size_t>(c.outputs));
        for (int i = 1; i <= c.inputs; ++i) {
            const auto& in = inputs[static_cast<std::size_t>(i)];
            EXPECT_EQ(in->GetVal_no(), i);
            EXPECT_EQ(in->GetVal_channel_type(), 4);
            EXPECT_EQ(in->GetVal_name(), "Alarminput-" + std::to_string(i));
            EXPECT_TRUE(in->GetVal_enable());
        }
        for (int i = 1; i <= c.outputs; ++i) {
            const auto& out = outputs[static_cast<std::size_t>(i - 1)];
            EXPECT_EQ(out->GetVal_no(), i);
            EXPECT_EQ(out->GetVal_channel_type(), 5);
            EXPECT_EQ(out->GetVal_name(), "Alarmoutput-" + std::to_string(i));
            EXPECT_TRUE(out->GetVal_enable());
        }
    }
}

TEST_F(ModbusConn, InitAgainstARefusingDeviceLeavesNothingRunning)
{
    ASSERT_TRUE(StartSim());
    ASSERT_TRUE(m_sim->RefuseNew(true));
    const int threads = testsupport::ThreadCount();
    {
        CModbusTCPConn conn(m_timing);
        EXPECT_FALSE(conn.Init(Loopback(m_sim->Port()), 12, 6, 1, 0));
        EXPECT_EQ(testsupport::ThreadCount(), threads);
        std::vector<std::shared_ptr<dam::CAlarmInputObj>> inputs;
        EXPECT_TRUE(conn.GetAlarmInputChannels(inputs));
        EXPECT_EQ(inputs.size(), 12u); // the counts keep their defaults
        EXPECT_TRUE(conn.Stop());
    }
    EXPECT_EQ(testsupport::ThreadCount(), threads);
    EXPECT_EQ(m_sim->RequestCount(kReadInputs), 0u);
}

TEST_F(ModbusConn, StopEndsPollingAndRemovesTheClient)
{
    ASSERT_TRUE(StartSim());
    const int threads = testsupport::ThreadCount();
    {
        auto conn = std::make_shared<CModbusTCPConn>(m_timing);
        ASSERT_TRUE(conn->Init(Loopback(m_sim->Port()), 12, 6, 1, 0));
        ASSERT_TRUE(WaitForPolls(2));
        EXPECT_EQ(testsupport::ThreadCount(), threads + 1);
        EXPECT_TRUE(conn->Stop());
        EXPECT_EQ(testsupport::ThreadCount(), threads);
        EXPECT_TRUE(m_sim->WaitForConnections(0, kWait));
        const uint64_t polls = m_sim->RequestCount(kReadInputs);
        std::this_thread::sleep_for(milliseconds(3 * m_timing.pollPeriodMs));
        EXPECT_EQ(m_sim->RequestCount(kReadInputs), polls);
        EXPECT_TRUE(conn->Stop()); // again: nothing left to stop
    }
    {
        // Dropped without a stop: the destructor stops.
        auto conn = std::make_shared<CModbusTCPConn>(m_timing);
        ASSERT_TRUE(conn->Init(Loopback(m_sim->Port()), 12, 6, 1, 0));
        ASSERT_TRUE(m_sim->WaitForConnections(1, kWait));
    }
    EXPECT_EQ(testsupport::ThreadCount(), threads);
    EXPECT_TRUE(m_sim->WaitForConnections(0, kWait));
}

} // namespace
