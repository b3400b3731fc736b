#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include <chrono>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "IOBoxSimulator.h"
#include "Marl/Base/Singleton.h"
#include "dam/DriverInterface.h"
#include "dam/LoginParamCreation.h"
#include "dam/Operation.h"
#include "dam/TesselDetach.h"
#include "proto/RapidJsonProto.h"
#include "support/HostEnvironment.h"
#include "support/ModuleLoader.h"
#include "support/Process.h"

namespace {

using namespace std::chrono_literals;
using testsupport::WaitFor;

// The plug-in as the host sees it: a library and its entry points.
struct LoadedPlugin {
    testsupport::LoadedModule module{IOBOX_MODULE_PATH};
    bool (*Init)(dam::IDriverInterfaceOperate*) = module.Entry<bool(dam::IDriverInterfaceOperate*)>("Init");
    bool (*Start)() = module.Entry<bool()>("Start");
    bool (*Stop)() = module.Entry<bool()>("Stop");
    bool (*Unit)() = module.Entry<bool()>("Unit");
};

unsigned int ChannelId(dam::IDevice& device, int type, int no)
{
    for (const auto& channel : device.GetChannels(type)) {
        if (channel->GetNo() == no) {
            return channel->GetID();
        }
    }
    return 0;
}

// When each input poll reached the box and each status reached the host.
struct Timeline {
    using Clock = std::chrono::steady_clock;
    template <class T>
    T Copy(const T& of) const
    {
        std::lock_guard<std::mutex> lock(mutex);
        return of;
    }
    mutable std::mutex mutex;
    std::vector<Clock::time_point> polls;
    std::vector<std::pair<int, Clock::time_point>> statuses;
};

long long Ms(std::chrono::steady_clock::duration d)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

// The host's whole path with the production timings: a poll every 5 s, a second's settle after
// a connect, offline after three failed checks, 15 s before an offline box is tried again.
TEST(EndToEnd, TheHostsWholePathAgainstTheSimulatedBox)
{
    using Clock = Timeline::Clock;
    const int threadsBefore = testsupport::BaselineThreadCount();
    const int descriptorsBefore = testsupport::OpenDescriptorCount();
    Timeline timeline;
    {
        testsupport::HostEnvironment host;
        host.deviceManager->SetStatusObserver([&](const OstraPlatform::CDeviceManager::StatusRecord& record) {
            std::lock_guard<std::mutex> lock(timeline.mutex);
            timeline.statuses.emplace_back(record.statusCode, Clock::now());
        });
        auto drivers = std::make_shared<dam::CDriverManager>();
        dam::CDriverInterfaceOperate operate(drivers);
        auto* operations = Marl::Base::CSingleton<dam::COperationManager>::Instance();

        iobox::sim::SimulatorConfig config;
        config.onRequest = [&](const iobox::sim::RequestInfo& request) {
            if (request.function == 0x02) {
                std::lock_guard<std::mutex> lock(timeline.mutex);
                timeline.polls.push_back(Clock::now());
            }
        };
        iobox::sim::IOBoxSimulator box(config);
        ASSERT_TRUE(box.Start()) << box.LastError();
        box.SetInput(3, true);
        box.SetOutput(2, true);

        LoadedPlugin plugin;
        ASSERT_TRUE(plugin.Init && plugin.Start && plugin.Stop && plugin.Unit) << plugin.module.Error();
        ASSERT_TRUE(plugin.Init(&operate));
        ASSERT_TRUE(plugin.Start());
        std::uint64_t requestsAfterLogout = 0;
        {
            // Everything the plug-in made (login parameters, channel objects, statuses) is let go
            // at the end of this block, before the library is unloaded, as the host does.

            // The add request, through the registered handler, into validated login parameters.
            auto handler = dam::CDevcieTesselDetachMgr::GetTesselComm(2005, 101);
            ASSERT_TRUE(handler);
            proto::CRapidJsonProto request;
            ASSERT_TRUE(request.set_str(R"({"AddDevicesRequest":{"DeviceType":2005,"DeviceProtocol":101,
                "SingleDevice":{"Alias":"Lobby box","Manufacturer":0,"AddByAddress":{"Address":"10.20.30.40","Port":)" +
                                        std::to_string(box.Port()) +
                                        R"(,"IOBox":{"AlarmInputCount":12,"AlarmOutputCount":6,"AlarmInputType":1}}}}})"));
            std::shared_ptr<dam::CBaseLoginParam> param;
            ASSERT_TRUE(handler->ParsePostSingleDeviceLoginParam(param, &request, "operator-session"));
            auto modbus = std::dynamic_pointer_cast<dam::CModbusLoginParam>(param);
            ASSERT_TRUE(modbus);
            EXPECT_EQ(modbus->GetVal_login_address(), "10.20.30.40");
            EXPECT_EQ(modbus->GetVal_input_num(), 12);
            // The suite reaches devices on loopback only, an address the check refuses by design:
            // the validated parameters keep everything else.
            modbus->SetVal_login_address("127.0.0.1");

            dam::DeviceInfo info;
            info.id = 41;
            info.guid = "6B1F3C2A-0000-4000-8000-000000000041";
            info.category = 2005;
            info.protocol = 101;
            info.name = "Lobby box";
            info.loginParam = param;
            auto device = std::make_shared<dam::CDevice>(info);
            host.deviceManager->AddDevice(device);

            // A strategy from the registered driver logs the box in.
            auto driver = drivers->GetDriver(2005, 101);
            ASSERT_TRUE(driver);
            auto strategy = driver->CreateStrategy(device);
            ASSERT_TRUE(strategy);
            const auto loginStart = Clock::now();
            ASSERT_TRUE(strategy->Login());
            EXPECT_GE(Ms(Clock::now() - loginStart), 1000); // the settle after the connect
            EXPECT_GE(device->GetDeviceHandle(), 1);
            EXPECT_EQ(device->GetSubCategory(), 207);
            ASSERT_EQ(device->GetChannels(1003).size(), 12u);
            ASSERT_EQ(device->GetChannels(1004).size(), 6u);
            device->SetOnline(true);

            // Input 3 in alarm arrives as an event whose source is that input's host channel.
            const unsigned int input3 = ChannelId(*device, 1003, 3);
            ASSERT_TRUE(WaitFor([&] { return host.capacityManager->EventCount() > 0; }, 15s));
            const auto event = host.capacityManager->Events().front();
            EXPECT_EQ(event.eventType, 5030u);
            EXPECT_EQ(event.sourceType, 1003u);
            EXPECT_EQ(event.sourceId, input3);
            EXPECT_EQ(event.threadName, "iobox.d.EventFactory");
            rapidjson::Document json;
            ASSERT_FALSE(json.Parse(event.json.c_str()).HasParseError()) << event.json;
            const auto& basic = json["Event"]["BasicInfo"];
            EXPECT_EQ(basic["SourceID"].GetInt(), static_cast<int>(input3));
            EXPECT_EQ(basic["DeviceID"].GetInt(), 41);
            EXPECT_STREQ(basic["SourceName"].GetString(), "AlarmInput 03");

            // Outputs through the registered operation interface, by host channel id.
            auto ops = operations->GetOperateManager("iobox.d");
            ASSERT_TRUE(ops);
            std::vector<std::shared_ptr<dam::CAlarmOutputStatus>> statuses;
            ASSERT_TRUE(ops->GetAlarmOutputStatus(statuses, device));
            ASSERT_EQ(statuses.size(), 6u);
            for (int no = 1; no <= 6; ++no) {
                EXPECT_EQ(statuses[no - 1]->GetAlarmOutputID(), ChannelId(*device, 1004, no));
                EXPECT_EQ(statuses[no - 1]->GetStatus(), no == 2 ? 1u : 0u) << "output " << no;
            }
            ASSERT_TRUE(ops->SetAlarmOutStatus(ChannelId(*device, 1004, 5), 1, device));
            EXPECT_TRUE(WaitFor([&] { return box.GetOutput(5); }, 2s));

            // Three polls: at once, then one after each 5 s pause.
            ASSERT_TRUE(WaitFor([&] { return timeline.Copy(timeline.polls).size() >= 3; }, 13s));
            const auto polls = timeline.Copy(timeline.polls);
            ASSERT_EQ(polls.size(), 3u);
            for (std::size_t i = 1; i < polls.size(); ++i) {
                EXPECT_GE(Ms(polls[i] - polls[i - 1]), 5000) << i;
                EXPECT_LT(Ms(polls[i] - polls[i - 1]), 6500) << i;
            }

            // The box drops off the network: the next poll fails, three checks fail, offline.
            box.RefuseNew(true);
            box.DropAll();
            ASSERT_TRUE(WaitFor([&] { return timeline.Copy(timeline.statuses).size() == 1; }, 25s));
            EXPECT_FALSE(device->IsOnline());
            // Back: the first poll after the offline one is more than 15 s after the last
            // success, so it connects at once.
            box.RefuseNew(false);
            ASSERT_TRUE(WaitFor([&] { return timeline.Copy(timeline.statuses).size() == 2; }, 9s));
            EXPECT_TRUE(device->IsOnline());
            const auto changes = timeline.Copy(timeline.statuses);
            EXPECT_EQ(changes[0].first, 0x8000);
            EXPECT_EQ(changes[1].first, 0x8017);
            EXPECT_GE(Ms(changes[0].second - polls.back()), 19500);
            EXPECT_LT(Ms(changes[0].second - polls.back()), 23000);
            EXPECT_GE(Ms(changes[1].second - changes[0].second), 5000);
            EXPECT_LT(Ms(changes[1].second - changes[0].second), 7500);
            for (const auto& record : host.deviceManager->StatusNotifications()) {
                EXPECT_EQ(record.msgType, 101u);
                EXPECT_EQ(record.deviceId, device->GetDeviceHandle());
            }

            // Logout, delete with its operation-log entry, Stop, Unit.
            ASSERT_TRUE(strategy->Logout());
            EXPECT_EQ(device->GetDeviceHandle(), -1);
            // A poll cut short by the logout may have sent its request: once the box has seen the
            // connection close, it has counted everything sent before.
            ASSERT_TRUE(box.WaitForConnections(0, 2s));
            requestsAfterLogout = box.TotalRequests();
            unsigned int module = 9;
            unsigned int code = 9;
            ASSERT_TRUE(handler->DeleteDevice(module, code, {41}, "operator-session"));
            EXPECT_FALSE(host.deviceManager->GetDevice(41, 2005));
            ASSERT_EQ(host.operationLog->Entries().size(), 1u);
            EXPECT_EQ(host.operationLog->Entries()[0].type, 2912u);
            EXPECT_EQ(host.operationLog->Entries()[0].deviceId, 41u);
            host.deviceManager->SetStatusObserver(nullptr);
        }
        EXPECT_TRUE(plugin.Stop());
        EXPECT_TRUE(plugin.Unit());
        EXPECT_TRUE(drivers->Drivers().empty());

        // The host lets go of what the plug-in registered before it unloads the library.
        dam::LoginParamCreation::Clear();
        dam::CDevcieTesselDetachMgr::Clear();
        operations->Clear();
        EXPECT_TRUE(plugin.module.Close());
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(box.TotalRequests(), requestsAfterLogout);
        box.Stop();
    }
    EXPECT_TRUE(WaitFor([&] { return testsupport::ThreadCount() == threadsBefore; }, 5s))
        << testsupport::ThreadCount() << " threads, " << threadsBefore << " before";
    EXPECT_EQ(testsupport::OpenDescriptorCount(), descriptorsBefore);
}

} // namespace
