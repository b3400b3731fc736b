// The host's last steps with a box still logged in: Stop, Unit and unloading the module, and
// objects crossing between host and module, through the module loaded as the host loads it (its
// test build, whose extra entry points are in TestEntries.cpp) against a simulated box on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <iostream>
#include <list>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "IOBoxSimulator.h"
#include "Marl/Base/Singleton.h"
#include "Marl/Base/ThreadManager.h"
#include "dam/DriverInterface.h"
#include "dam/LoginParamCreation.h"
#include "dam/Operation.h"
#include "dam/TesselDetach.h"
#include "support/HostEnvironment.h"
#include "support/IOBoxDevice.h"
#include "support/LogCapture.h"
#include "support/ModuleLoader.h"
#include "support/Process.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kWait{5000};
constexpr milliseconds kUnloadLimit{2000};
constexpr uint32_t kPollMs = 20;
const char* const kEventThread = "iobox.d.EventFactory";

Marl::Base::CThreadManager* Threads() { return Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance(); }


// The host's side of one load of the plug-in: its registrations, the device and its strategy.
class HostRun {
public:
    explicit HostRun(uint16_t port)
        : m_module(IOBOX_TEST_MODULE_PATH),
          m_device(testsupport::MakeIOBox([port] {
              testsupport::IOBoxSetup setup;
              setup.port = port;
              setup.inputType = 1;
              return setup;
          }()))
    {
    }

    // Load, Init, Start and login, with a poll every kPollMs and a device offline at the first
    // failed check.
    ::testing::AssertionResult StartAndLogin(testsupport::HostEnvironment& host)
    {
        if (!m_module.IsOpen()) {
            return ::testing::AssertionFailure() << m_module.Error();
        }
        auto setTiming = m_module.Entry<void(uint32_t, uint32_t, uint32_t, int)>("IoboxTestSetTiming");
        auto init = m_module.Entry<bool(dam::IDriverInterfaceOperate*)>("Init");
        m_start = m_module.Entry<bool()>("Start");
        m_stop = m_module.Entry<bool()>("Stop");
        m_unit = m_module.Entry<bool()>("Unit");
        if (!setTiming || !init || !m_start || !m_stop || !m_unit) {
            return ::testing::AssertionFailure() << "an entry point is missing";
        }
        setTiming(kPollMs, 5, 0, 1);
        if (!init(&m_operate) || !m_start()) {
            return ::testing::AssertionFailure() << "Init or Start failed";
        }
        host.deviceManager->AddDevice(m_device);
        auto driver = m_drivers->GetDriver(2005, 101);
        m_strategy = driver ? driver->CreateStrategy(m_device) : nullptr;
        if (!m_strategy || !m_strategy->Login()) {
            return ::testing::AssertionFailure() << "login failed";
        }
        return ::testing::AssertionSuccess();
    }
    bool Logout() { return m_strategy->Logout(); }
    template <typename F>
    F* Entry(const char* name) const { return m_module.Entry<F>(name); }
    const std::shared_ptr<dam::CDevice>& Device() const { return m_device; }
    bool Stop() { return m_stop(); }
    bool Unit() { return m_unit(); }

    // Lets go of every object the plug-in made, as the host does, then unloads the module.
    Clock::duration Unload(testsupport::HostEnvironment& host)
    {
        m_strategy.reset();
        host.deviceManager->DeleteDeviceByID(1, 2005); // with the feature the plug-in gave it
        m_device.reset();
        m_drivers.reset();
        dam::LoginParamCreation::Clear();
        dam::CDevcieTesselDetachMgr::Clear();
        Marl::Base::CSingleton<dam::COperationManager>::Instance()->Clear();
        const auto begin = Clock::now();
        EXPECT_TRUE(m_module.Close());
        return Clock::now() - begin;
    }

private:
    testsupport::LoadedModule m_module;
    std::shared_ptr<dam::CDriverManager> m_drivers = std::make_shared<dam::CDriverManager>();
    dam::CDriverInterfaceOperate m_operate{m_drivers};
    std::shared_ptr<dam::CDevice> m_device;
    std::shared_ptr<dam::CBaseStrategy> m_strategy;
    bool (*m_start)() = nullptr;
    bool (*m_stop)() = nullptr;
    bool (*m_unit)() = nullptr;
};

class ModuleShutdown : public ::testing::Test {
protected:
    void SetUp() override
    {
        { SCOPED_TRACE("set-up"); } // GoogleTest's watcher thread on Windows, before any baseline
        ASSERT_TRUE(m_sim.Start()) << m_sim.LastError();
    }
    void TearDown() override { m_sim.Stop(); }

    testsupport::HostEnvironment m_host;
    testsupport::LogCapture m_log;
    iobox::sim::IOBoxSimulator m_sim{iobox::sim::SimulatorConfig{}};
};

// A host that relies on Unit: after it no thread of the plug-in is left and nothing of it
// reaches the host, however the box behaves; the module then unloads at once.
TEST_F(ModuleShutdown, UnitWithABoxLoggedInEndsItsPollAndNothingReachesTheHostAfter)
{
    m_sim.SetInput(3, true);
    const int threads = testsupport::BaselineThreadCount();
    HostRun run(m_sim.Port());
    ASSERT_TRUE(run.StartAndLogin(m_host)) << m_log.Dump();
    ASSERT_TRUE(testsupport::WaitFor([&] { return m_host.capacityManager->EventCount() >= 2; }, kWait)) << m_log.Dump();

    EXPECT_TRUE(run.Stop());
    EXPECT_TRUE(run.Unit());
    EXPECT_EQ(testsupport::ThreadCountSettledAt(threads), threads) << m_log.Dump();

    // The box drops off and comes back; a poll still running would log, notify the host's
    // device manager and post events, which the worker reserved again here would deliver.
    m_log.Clear();
    const std::size_t events = m_host.capacityManager->EventCount();
    ASSERT_NE(Threads()->GetAvailableThread(kEventThread), 0u);
    ASSERT_TRUE(m_sim.RefuseNew(true));
    m_sim.DropAll();
    std::this_thread::sleep_for(milliseconds(20 * kPollMs));
    ASSERT_TRUE(m_sim.RefuseNew(false));
    std::this_thread::sleep_for(milliseconds(20 * kPollMs));
    Threads()->ReleaseThread(kEventThread, false);
    EXPECT_TRUE(m_log.Lines().empty()) << m_log.Dump();
    EXPECT_TRUE(m_host.deviceManager->StatusNotifications().empty());
    EXPECT_EQ(m_host.capacityManager->EventCount(), events);
    EXPECT_EQ(m_sim.ConnectionCount(), 0);

    EXPECT_LT(run.Unload(m_host), kUnloadLimit);
}

// Objects cross the module boundary both ways, as with the real host: the login parameter the
// host made is recognised by type in the plug-in (or the login fails), containers made by the
// host are grown by the plug-in, and the output statuses the plug-in made are released by the
// host. Each fails on two heaps, two layouts of a library type or two identities of a class.
TEST_F(ModuleShutdown, HostAndPluginObjectsCrossTheBoundaryBothWays)
{
    HostRun run(m_sim.Port());
    ASSERT_TRUE(run.StartAndLogin(m_host)) << m_log.Dump();

    auto grow = run.Entry<void(std::string&, std::list<std::string>&, std::map<int, std::string>&)>(
        "IoboxTestGrowHostContainers");
    ASSERT_NE(grow, nullptr);
    std::string text = "made by the host";
    std::list<std::string> names{"host"};
    std::map<int, std::string> byId{{0, "host"}};
    grow(text, names, byId);
    EXPECT_EQ(text, "made by the host, grown by the plug-in well past any small-string buffer");
    EXPECT_EQ(names, (std::list<std::string>{"plug-in 1", "plug-in 2"}));
    ASSERT_EQ(byId.size(), 3u);
    EXPECT_EQ(byId.begin()->first, 1);
    EXPECT_EQ(byId.rbegin()->second, "plug-in entry 3 with a name too long for the string itself");
    text.append(200, '.'); // the host grows what the plug-in allocated
    names.clear();
    byId.clear();

    auto operation = Marl::Base::CSingleton<dam::COperationManager>::Instance()->GetOperateManager("iobox.d");
    ASSERT_NE(operation, nullptr);
    const auto outputs = run.Device()->GetChannels(1004);
    ASSERT_EQ(outputs.size(), 6u);
    ASSERT_TRUE(operation->SetAlarmOutStatus(outputs[2]->GetID(), 1, run.Device())) << m_log.Dump();
    std::vector<std::shared_ptr<dam::CAlarmOutputStatus>> statuses{
        std::make_shared<dam::CAlarmOutputStatus>(dam::AlarmOutputStatus{77, 0})};
    statuses.shrink_to_fit(); // the plug-in's first element reallocates the host's buffer
    ASSERT_TRUE(operation->GetAlarmOutputStatus(statuses, run.Device())) << m_log.Dump();
    ASSERT_EQ(statuses.size(), 7u);
    EXPECT_EQ(statuses[0]->GetAlarmOutputID(), 77u);
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        EXPECT_EQ(statuses[i + 1]->GetAlarmOutputID(), outputs[i]->GetID());
        EXPECT_EQ(statuses[i + 1]->GetStatus(), i == 2 ? 1u : 0u) << i;
    }
    statuses.clear();
    operation.reset();

    EXPECT_TRUE(run.Stop());
    EXPECT_TRUE(run.Unit());
    EXPECT_LT(run.Unload(m_host), kUnloadLimit);
}

// The host logs the box out from inside the offline notification, on the poll's own thread,
// and at once stops, calls Unit and unloads: Unit joins the poll thread whatever it is still
// doing. Every other round the host goes on before its logout has even begun.
TEST_F(ModuleShutdown, UnloadingRightAfterALogoutFromInsideTheNotificationNeverWaits)
{
    constexpr int kRounds = 200;
    const int threads = testsupport::BaselineThreadCount();
    Clock::duration slowest{};
    for (int round = 0; round < kRounds; ++round) {
        SCOPED_TRACE("round " + std::to_string(round + 1));
        ASSERT_TRUE(m_sim.RefuseNew(false));
        HostRun run(m_sim.Port());
        std::atomic<bool> goOn{false};
        const bool early = round % 2 == 1;
        m_host.deviceManager->SetStatusObserver([&](const OstraPlatform::CDeviceManager::StatusRecord& record) {
            if (record.statusCode != 0x8000 || goOn.load()) {
                return;
            }
            goOn = early;
            run.Logout();
            goOn = true;
        });
        ASSERT_TRUE(run.StartAndLogin(m_host)) << m_log.Dump();
        ASSERT_TRUE(m_sim.RefuseNew(true));
        m_sim.DropAll();
        ASSERT_TRUE(testsupport::WaitFor([&] { return goOn.load(); }, kWait)) << m_log.Dump();
        EXPECT_TRUE(run.Stop());
        EXPECT_TRUE(run.Unit());
        ASSERT_EQ(testsupport::ThreadCountSettledAt(threads), threads) << m_log.Dump(); // the poll thread is joined
        m_host.deviceManager->SetStatusObserver(nullptr);
        const auto unload = run.Unload(m_host);
        slowest = std::max(slowest, unload);
        ASSERT_LT(unload, kUnloadLimit);
        m_log.Clear();
    }
    std::cout << "slowest unload "
              << std::chrono::duration_cast<std::chrono::microseconds>(slowest).count() / 1000.0 << " ms\n";
}

} // namespace
