#include <gtest/gtest.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "EventManager/EventFactory/EventFactory.h"
#include "EventManager/EventFactory/SPEventFactoryHelper.h"
#include "EventManager/EventProcessManager.h"
#include "EventManager/EventTestHost.h"
#include "Marl/Base/Singleton.h"
#include "Marl/Base/TimeUtil.h"
#include "dam/InterfaceManager.h"
#include "proto/RapidJsonProto.h"
#include "support/HostEnvironment.h"
#include "support/LogCapture.h"

namespace {

using eventtest::ChannelId;
using eventtest::ChannelName;
using iobox::CModbusAlarmInputInfo;
using iobox::CSPDamEventMsg;
using iobox::CSPEventFactory;
namespace helper = iobox::SPEventFactoryHelper;

const char* const kFactorySource = "src/EventManager/EventFactory/EventFactory.cpp";
const char* const kHelperSource = "src/EventManager/EventFactory/SPEventFactoryHelper.cpp";

const eventtest::BoxSetup kBox{42, "GUID-BOX-42", "Lobby box", 8, 5000};

std::shared_ptr<CModbusAlarmInputInfo> Record(std::shared_ptr<dam::IDevice> device, int point, int type = 0,
                                              int alarm = 1)
{
    return std::make_shared<CModbusAlarmInputInfo>(std::move(device), point, type, alarm);
}

int EventIdOf(const std::shared_ptr<CSPDamEventMsg>& message)
{
    return message->GetProto()->get_int_v("/Event/BasicInfo/EventID", -1);
}

// Reports the host's own UTC text instead of leaving it empty, to show it is replaced.
class StampingDeviceManager : public OstraPlatform::CDeviceManager {
public:
    bool GetEventTimeInfo(std::shared_ptr<dam::CEventTimeInfo>& info, std::shared_ptr<dam::IDevice> device,
                          time_t time) override
    {
        const bool ok = CDeviceManager::GetEventTimeInfo(info, std::move(device), time);
        if (ok) {
            info->SetUtcTime("host's own text");
        }
        return ok;
    }
};

class EventFactoryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device = eventtest::AddBox(host, kBox);
        host.areaManager->SetChannelArea(ChannelId(kBox.channelBase, 3), 1003, 7, "North wing");
    }

    testsupport::HostEnvironment host;
    testsupport::LogCapture log;
    std::shared_ptr<dam::CDevice> device;
};

TEST_F(EventFactoryTest, DocumentHoldsExactlyTheEventLayout)
{
    struct Case {
        int point;
        int areaId;
        std::string areaName;
    };
    const std::vector<Case> cases = {{3, 7, "North wing"}, {8, -1, ""}};
    // A zone in daylight saving time whose values all differ, so that none stands in for another.
    auto stamping = std::make_shared<StampingDeviceManager>();
    stamping->SetTimeZone(OstraPlatform::CDeviceManager::TimeZone{37800, -570, "2026-10-04", "2026-04-05", -60});
    stamping->AddDevice(device);
    Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance()->SetDeviceManager(stamping);
    int expectedId = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE("input " + std::to_string(c.point));
        const time_t before = time(nullptr);
        const auto messages = CSPEventFactory::CreateEventMsg(Record(device, c.point));
        const time_t after = time(nullptr);
        ASSERT_EQ(messages.size(), 1u) << log.Dump();
        const auto& message = messages[0];
        const unsigned int channelId = ChannelId(kBox.channelBase, c.point);
        EXPECT_EQ(message->GetEventType(), 5030u);
        EXPECT_EQ(message->GetSourceType(), 1003u);
        EXPECT_EQ(message->GetSourceID(), channelId);

        // The worker's own UTC text of the build time, not the host's.
        const std::string occurred = message->GetProto()->get_v("/Event/BasicInfo/TimeInfo/OccurrenceTime", "");
        EXPECT_GE(occurred, Marl::Base::TimeUtil::TimeT2StrUTCDatetime(before));
        EXPECT_LE(occurred, Marl::Base::TimeUtil::TimeT2StrUTCDatetime(after));
        const std::string expected =
            R"({"Event":{"BasicInfo":{"EventType":5030,"SourceType":1003,"SourceID":)" + std::to_string(channelId) +
            R"(,"SourceName":")" + ChannelName(kBox.name, c.point) + R"(","AreaID":)" + std::to_string(c.areaId) +
            R"(,"AreaName":")" + c.areaName + R"(","DeviceID":42,"DeviceName":"Lobby box","EventID":)" +
            std::to_string(++expectedId) + R"(,"OfflineType":1,"TimeInfo":{"OccurrenceTime":")" + occurred +
            R"(","TimeDifference":37800,"TimeZone":{"TimeZoneBias":-570,"DaylightDate":"2026-10-04",)"
            R"("StandardDate":"2026-04-05","DaylightBias":-60}}}}})";
        EXPECT_EQ(message->GetProto()->get_str(0), expected);
    }
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
}

TEST_F(EventFactoryTest, IdsCountFromOneOnlyForInputsInAlarmAndADroppedEventLeavesAGap)
{
    // Records that are not an input in alarm give nothing, not even a line, and take no id.
    for (const auto& typeAndAlarm : {std::make_pair(0, 0), std::make_pair(0, 2), std::make_pair(1, 1)}) {
        EXPECT_TRUE(CSPEventFactory::CreateEventMsg(Record(device, 1, typeAndAlarm.first, typeAndAlarm.second)).empty());
    }
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
    for (int expected = 1; expected <= 3; ++expected) {
        const auto messages = CSPEventFactory::CreateEventMsg(Record(device, 1));
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(EventIdOf(messages[0]), expected);
    }

    host.deviceManager->SetFailTimeInfo(true);
    EXPECT_TRUE(CSPEventFactory::CreateEventMsg(Record(device, 1)).empty());
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u) << log.Dump();
    EXPECT_TRUE(log.HasLine(4, "[iobox::SPEventFactoryHelper::GetDeviceTimeInfo]Get Device Time info Failed! Device id: 42",
                            kHelperSource));
    EXPECT_TRUE(testsupport::MatchesLine(
        lines[1].text, "[iobox::SPEventFactoryHelper::AddTimeInfo]sp_time_info is nullptr, device id: 42.",
        kHelperSource))
        << lines[1].text;
    EXPECT_EQ(lines[1].level, 4);

    host.deviceManager->SetFailTimeInfo(false);
    const auto messages = CSPEventFactory::CreateEventMsg(Record(device, 1));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(EventIdOf(messages[0]), 5) << "id 4 went with the dropped event";
}

TEST_F(EventFactoryTest, DroppedRecordsLeaveOneLineEach)
{
    auto bare = eventtest::AddBox(host, {43, "GUID-BOX-43", "Bare box", 0, 6000});
    const std::string f = "[iobox::CSPEventFactory::CreateEventMsg]";
    const std::string related = f + "Get event related channel failed, drop event. Device id: ";
    const std::vector<std::pair<std::shared_ptr<CModbusAlarmInputInfo>, std::string>> cases = {
        {nullptr, f + "Empty pointer, drop event"},
        {Record(nullptr, 1), f + "device_ptr pointer, drop event"},
        {Record(device, 9), related + "42, channel no: 9, channel id: 0, event type:1 "},
        {Record(bare, 1), related + "43, channel no: 1, channel id: 0, event type:1 "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.second);
        log.Clear();
        EXPECT_TRUE(CSPEventFactory::CreateEventMsg(c.first).empty());
        ASSERT_EQ(log.Lines().size(), 1u) << log.Dump();
        EXPECT_TRUE(log.HasLine(5, c.second, kFactorySource)) << log.Dump();
    }
}

TEST_F(EventFactoryTest, HelpersRefuseAMissingMessageOrDocument)
{
    EXPECT_FALSE(helper::AddOfflineType(nullptr, device, 1, time(nullptr)));
    EXPECT_FALSE(helper::AddTimeInfo(std::make_shared<CSPDamEventMsg>(nullptr), device, time(nullptr)));
    EXPECT_EQ(log.Lines().size(), 2u) << log.Dump();
    EXPECT_TRUE(log.HasLine(4, "[iobox::SPEventFactoryHelper::AddOfflineType]ptr_msg is nullptr, device id: 42.",
                            kHelperSource));
    EXPECT_TRUE(log.HasLine(4, "[iobox::SPEventFactoryHelper::AddTimeInfo]sp_proto is nullptr, device id: 42.",
                            kHelperSource));
}

} // namespace
