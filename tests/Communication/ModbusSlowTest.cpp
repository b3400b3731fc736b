#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <vector>

#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "ModbusTestSupport.h"
#include "support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::chrono::seconds;
using modbustest::kReadInputs;

long long Ms(Clock::duration d) { return std::chrono::duration_cast<milliseconds>(d).count(); }

// The production timings: poll every 5 s, 1 s settle after a connect, 15 s between
// reconnect attempts while offline, offline after three failed checks.
class ModbusProductionTiming : public modbustest::ModbusFixture {
protected:
    ModbusProductionTiming() { m_timing = iobox::ModbusTiming(); }

    struct Status {
        int code;
        Clock::time_point at;
    };
    std::vector<Status> Statuses() const
    {
        std::lock_guard<std::mutex> lock(m_statusMutex);
        return m_statuses;
    }
    bool WaitForStatuses(std::size_t n, Clock::duration timeout) const
    {
        return testsupport::WaitFor([&] { return Statuses().size() >= n; },
                                    std::chrono::duration_cast<milliseconds>(timeout));
    }

    mutable std::mutex m_statusMutex;
    std::vector<Status> m_statuses;
};

TEST_F(ModbusProductionTiming, PollsEveryFiveSecondsAndCyclesOfflineAndOnline)
{
    ASSERT_TRUE(StartSim());
    m_host.deviceManager->SetStatusObserver([this](const OstraPlatform::CDeviceManager::StatusRecord& record) {
        const auto now = Clock::now();
        std::lock_guard<std::mutex> lock(m_statusMutex);
        m_statuses.push_back({record.statusCode, now});
    });
    m_sim->SetInput(3, true);
    m_alarms.Install();

    const auto loginStart = Clock::now();
    const int handle = LoginAndSave();
    ASSERT_GT(handle, 0);
    EXPECT_GE(Ms(Clock::now() - loginStart), 1000); // the settle after the connect

    // Three polls: at once, then a 5 s pause after each.
    ASSERT_TRUE(m_requests.WaitFor(kReadInputs, 3, seconds(13)));
    ASSERT_TRUE(m_alarms.WaitForCount(2, seconds(2)));
    const auto polls = m_requests.TimesOf(kReadInputs);
    ASSERT_EQ(polls.size(), 3u);
    for (std::size_t i = 1; i < polls.size(); ++i) {
        EXPECT_GE(Ms(polls[i] - polls[i - 1]), 5000) << i;
        EXPECT_LT(Ms(polls[i] - polls[i - 1]), 6500) << i;
    }
    const auto lastGood = polls.back();

    // The device drops and refuses: the next poll's exchange fails, three checks fail, offline.
    ASSERT_TRUE(m_sim->RefuseNew(true));
    m_sim->DropAll();
    ASSERT_TRUE(WaitForStatuses(1, seconds(25))) << m_log.Dump();
    const auto offline = Statuses()[0];
    EXPECT_EQ(offline.code, 0x8000);
    EXPECT_GE(Ms(offline.at - lastGood), 19500);
    EXPECT_LT(Ms(offline.at - lastGood), 23000);

    // Back: the first poll after the offline one is more than 15 s after the last success,
    // so it reconnects at once.
    ASSERT_TRUE(m_sim->RefuseNew(false));
    ASSERT_TRUE(WaitForStatuses(2, seconds(9))) << m_log.Dump();
    const auto online = Statuses()[1];
    EXPECT_EQ(online.code, 0x8017);
    EXPECT_GT(Ms(online.at - lastGood), 15000);
    EXPECT_GE(Ms(online.at - offline.at), 5000);
    EXPECT_LT(Ms(online.at - offline.at), 7500);

    // Polling and alarms resume.
    const std::size_t alarms = m_alarms.Count();
    EXPECT_TRUE(m_alarms.WaitForCount(alarms + 1, seconds(7)));
    EXPECT_EQ(Statuses().size(), 2u);
    EXPECT_EQ(m_log.CountFormat("[%s]device logOut, handle[%d].[%s(%d)]"), 1u);
    EXPECT_EQ(m_log.CountFormat("[%s]device login success, handle[%d].[%s(%d)]"), 1u);
    m_host.deviceManager->SetStatusObserver(nullptr);
}

} // namespace
