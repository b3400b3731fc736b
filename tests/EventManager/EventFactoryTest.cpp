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
#include "rapidjson/document.h"
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

const eventtest::BoxSpec kBox{42, "GUID-BOX-42", "Lobby box", 8, 5000};

std::shared_ptr<CModbusAlarmInputInfo> Record(std::shared_ptr<dam::IDevice> device, int point, int type = 0,
                                              int alarm = 1)
{
    return std::make_shared<CModbusAlarmInputInfo>(std::move(device), point, type, alarm);
}

int EventIdOf(const std::shared_ptr<CSPDamEventMsg>& message)
{
    return message->GetProto()->get_int_v("/Event/BasicInfo/EventID", -1);
}

// Names of an object's members in document order, or "<not an object>".
std::vector<std::string> MemberNames(const rapidjson::Value& value)
{
    if (!value.IsObject()) {
        return {"<not an object>"};
    }
    std::vector<std::string> names;
    for (auto it = value.MemberBegin(); it != value.MemberEnd(); ++it) {
        names.emplace_back(it->name.GetString(), it->name.GetStringLength());
    }
    return names;
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

        rapidjson::Document json;
        ASSERT_FALSE(json.Parse(message->GetProto()->get_str(0).c_str()).HasParseError());
        EXPECT_EQ(MemberNames(json), std::vector<std::string>{"Event"});
        EXPECT_EQ(MemberNames(json["Event"]), std::vector<std::string>{"BasicInfo"});
        const rapidjson::Value& basic = json["Event"]["BasicInfo"];
        EXPECT_EQ(MemberNames(basic),
                  (std::vector<std::string>{"EventType", "SourceType", "SourceID", "SourceName", "AreaID", "AreaName",
                                            "DeviceID", "DeviceName", "EventID", "OfflineType", "TimeInfo"}));
        EXPECT_EQ(basic["EventType"].GetInt(), 5030);
        EXPECT_EQ(basic["SourceType"].GetInt(), 1003);
        EXPECT_EQ(basic["SourceID"].GetInt(), static_cast<int>(channelId));
        EXPECT_STREQ(basic["SourceName"].GetString(), ChannelName(kBox.name, c.point).c_str());
        EXPECT_EQ(basic["AreaID"].GetInt(), c.areaId);
        EXPECT_EQ(basic["AreaName"].GetString(), c.areaName);
        EXPECT_EQ(basic["DeviceID"].GetInt(), kBox.id);
        EXPECT_EQ(basic["DeviceName"].GetString(), kBox.name);
        EXPECT_EQ(basic["EventID"].GetInt(), ++expectedId);
        EXPECT_EQ(basic["OfflineType"].GetInt(), 1);

        const rapidjson::Value& timeInfo = basic["TimeInfo"];
        EXPECT_EQ(MemberNames(timeInfo), (std::vector<std::string>{"OccurrenceTime", "TimeDifference", "TimeZone"}));
        const std::string occurred = timeInfo["OccurrenceTime"].GetString();
        EXPECT_GE(occurred, Marl::Base::TimeUtil::TimeT2StrUTCDatetime(before));
        EXPECT_LE(occurred, Marl::Base::TimeUtil::TimeT2StrUTCDatetime(after));
        auto hostTime = std::make_shared<dam::CEventTimeInfo>();
        ASSERT_TRUE(host.deviceManager->GetEventTimeInfo(hostTime, device, before));
        EXPECT_EQ(timeInfo["TimeDifference"].GetInt(), hostTime->GetTimeDiffrence());
        const rapidjson::Value& zone = timeInfo["TimeZone"];
        EXPECT_EQ(MemberNames(zone),
                  (std::vector<std::string>{"TimeZoneBias", "DaylightDate", "StandardDate", "DaylightBias"}));
        EXPECT_EQ(zone["TimeZoneBias"].GetInt(), hostTime->GetTimeZoneBias());
        EXPECT_EQ(zone["DaylightDate"].GetString(), hostTime->GetDaylightDate());
        EXPECT_EQ(zone["StandardDate"].GetString(), hostTime->GetStandardDate());
        EXPECT_EQ(zone["DaylightBias"].GetInt(), hostTime->GetDaylightBias());
    }
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
}

TEST_F(EventFactoryTest, EventIdsCountFromOneAndADroppedEventLeavesAGap)
{
    for (int expected = 1; expected <= 3; ++expected) {
        const auto messages = CSPEventFactory::CreateEventMsg(Record(device, 1));
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(EventIdOf(messages[0]), expected);
    }

    host.deviceManager->SetFailTimeInfo(true);
    EXPECT_TRUE(CSPEventFactory::CreateEventMsg(Record(device, 1)).empty());
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u) << log.Dump();
    EXPECT_TRUE(testsupport::MatchesLine(
        lines[0].text, "[iobox::SPEventFactoryHelper::GetDeviceTimeInfo]Get Device Time info Failed! Device id: 42",
        kHelperSource))
        << lines[0].text;
    EXPECT_TRUE(testsupport::MatchesLine(
        lines[1].text, "[iobox::SPEventFactoryHelper::AddTimeInfo]sp_time_info is nullptr, device id: 42.",
        kHelperSource))
        << lines[1].text;
    EXPECT_EQ(lines[0].level, 4);
    EXPECT_EQ(lines[1].level, 4);

    host.deviceManager->SetFailTimeInfo(false);
    const auto messages = CSPEventFactory::CreateEventMsg(Record(device, 1));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(EventIdOf(messages[0]), 5) << "id 4 went with the dropped event";
}

TEST_F(EventFactoryTest, RecordsThatAreNotAnInputInAlarmGiveNothingAndNoLine)
{
    struct Case {
        int type;
        int alarm;
    };
    const std::vector<Case> cases = {{0, 0}, {0, 2}, {0, -1}, {1, 1}, {-1, 1}, {3, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + ", alarm " + std::to_string(c.alarm));
        EXPECT_TRUE(CSPEventFactory::CreateEventMsg(Record(device, 1, c.type, c.alarm)).empty());
    }
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
    const auto messages = CSPEventFactory::CreateEventMsg(Record(device, 1));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(EventIdOf(messages[0]), 1) << "no id is taken by a record without event";
}

TEST_F(EventFactoryTest, InputWithoutHostChannelIsDroppedWithItsLine)
{
    auto bare = eventtest::AddBox(host, {43, "GUID-BOX-43", "Bare box", 0, 6000});
    struct Case {
        std::shared_ptr<dam::IDevice> device;
        int deviceId;
        int point;
    };
    const std::vector<Case> cases = {{device, 42, 9}, {device, 42, 0}, {device, 42, -2}, {bare, 43, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE("device " + std::to_string(c.deviceId) + ", input " + std::to_string(c.point));
        log.Clear();
        EXPECT_TRUE(CSPEventFactory::CreateEventMsg(Record(c.device, c.point)).empty());
        ASSERT_EQ(log.Lines().size(), 1u) << log.Dump();
        EXPECT_TRUE(log.HasLine(5,
                                "[iobox::CSPEventFactory::CreateEventMsg]Get event related channel failed, drop event. "
                                "Device id: " + std::to_string(c.deviceId) + ", channel no: " + std::to_string(c.point) +
                                    ", channel id: 0, event type:1 ",
                                kFactorySource))
            << log.Dump();
    }
}

TEST_F(EventFactoryTest, EmptyRecordOrDeviceIsDroppedWithItsLine)
{
    EXPECT_TRUE(CSPEventFactory::CreateEventMsg(nullptr).empty());
    EXPECT_TRUE(log.HasLine(5, "[iobox::CSPEventFactory::CreateEventMsg]Empty pointer, drop event", kFactorySource));
    EXPECT_TRUE(CSPEventFactory::CreateEventMsg(Record(nullptr, 1)).empty());
    EXPECT_TRUE(log.HasLine(5, "[iobox::CSPEventFactory::CreateEventMsg]device_ptr pointer, drop event", kFactorySource));
    EXPECT_EQ(log.Lines().size(), 2u) << log.Dump();
}

TEST_F(EventFactoryTest, MissingDeviceManagerDropsTheEventWithWarning)
{
    Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance()->SetDeviceManager(nullptr);
    EXPECT_TRUE(CSPEventFactory::CreateEventMsg(Record(device, 1)).empty());
    EXPECT_TRUE(log.HasLine(4, "[iobox::CSPEventFactory::CreateEventMsg]Device manager is null, drop event. Device id: 42",
                            kFactorySource))
        << log.Dump();
    EXPECT_EQ(log.Lines().size(), 1u);

    EXPECT_FALSE(helper::GetDeviceTimeInfo(device, time(nullptr)));
    EXPECT_TRUE(log.HasLine(4, "[iobox::SPEventFactoryHelper::GetDeviceTimeInfo]Device manager is null, device id: 42",
                            kHelperSource))
        << log.Dump();
}

TEST_F(EventFactoryTest, HelpersRefuseAMissingMessageOrDocument)
{
    using Helper = bool (*)(const std::shared_ptr<CSPDamEventMsg>&, std::shared_ptr<dam::IDevice>);
    struct Case {
        const char* name;
        Helper call;
    };
    const std::vector<Case> cases = {
        {"AddOfflineType",
         [](const std::shared_ptr<CSPDamEventMsg>& m, std::shared_ptr<dam::IDevice> d) {
             return helper::AddOfflineType(m, std::move(d), 1, time(nullptr));
         }},
        {"AddTimeInfo",
         [](const std::shared_ptr<CSPDamEventMsg>& m, std::shared_ptr<dam::IDevice> d) {
             return helper::AddTimeInfo(m, std::move(d), time(nullptr));
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string prefix = std::string("[iobox::SPEventFactoryHelper::") + c.name + "]";
        log.Clear();
        EXPECT_FALSE(c.call(nullptr, device));
        EXPECT_TRUE(log.HasLine(4, prefix + "ptr_msg is nullptr, device id: 42.", kHelperSource)) << log.Dump();
        log.Clear();
        EXPECT_FALSE(c.call(std::make_shared<CSPDamEventMsg>(nullptr), device));
        EXPECT_TRUE(log.HasLine(4, prefix + "sp_proto is nullptr, device id: 42.", kHelperSource)) << log.Dump();
        EXPECT_EQ(log.Lines().size(), 1u);
    }
}

TEST_F(EventFactoryTest, TimeInfoCarriesTheUtcTextOfTheGivenTime)
{
    auto stamping = std::make_shared<StampingDeviceManager>();
    stamping->AddDevice(device);
    Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance()->SetDeviceManager(stamping);
    const time_t when = 1700000000; // 2023-11-14 22:13:20 UTC
    const auto timeInfo = helper::GetDeviceTimeInfo(device, when);
    ASSERT_TRUE(timeInfo);
    EXPECT_EQ(timeInfo->GetUtcTime(), Marl::Base::TimeUtil::TimeT2StrUTCDatetime(when));
    EXPECT_EQ(timeInfo->GetUtcTime(), "2023-11-14T22:13:20Z");
}

TEST_F(EventFactoryTest, WriteTimeInfoWritesOnlyTheTimeBlock)
{
    auto timeInfo = std::make_shared<dam::CEventTimeInfo>();
    timeInfo->SetUtcTime("2024-03-31T01:00:00Z");
    timeInfo->SetTimeDiffrence(3600);
    timeInfo->SetTimeZoneBias(-60);
    timeInfo->SetDaylightDate("2024-03-31");
    timeInfo->SetStandardDate("2024-10-27");
    timeInfo->SetDaylightBias(-60);
    auto document = std::make_shared<proto::CRapidJsonProto>();
    helper::WriteTimeInfo(document, timeInfo);

    rapidjson::Document json;
    ASSERT_FALSE(json.Parse(document->get_str(0).c_str()).HasParseError());
    ASSERT_EQ(MemberNames(json["Event"]["BasicInfo"]), std::vector<std::string>{"TimeInfo"});
    const rapidjson::Value& block = json["Event"]["BasicInfo"]["TimeInfo"];
    EXPECT_STREQ(block["OccurrenceTime"].GetString(), "2024-03-31T01:00:00Z");
    EXPECT_EQ(block["TimeDifference"].GetInt(), 3600);
    EXPECT_EQ(block["TimeZone"]["TimeZoneBias"].GetInt(), -60);
    EXPECT_STREQ(block["TimeZone"]["DaylightDate"].GetString(), "2024-03-31");
    EXPECT_STREQ(block["TimeZone"]["StandardDate"].GetString(), "2024-10-27");
    EXPECT_EQ(block["TimeZone"]["DaylightBias"].GetInt(), -60);
}

} // namespace
