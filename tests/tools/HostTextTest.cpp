// The lines iobox-host shows for what the host receives and sends.

#include "HostText.h"

#include "proto/RapidJsonProto.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace iobox::host;

const char* const kEvent =
    R"({"Event":{"BasicInfo":{"EventType":5030,"SourceType":1003,"SourceID":1003,"SourceName":"AlarmInput 03",)"
    R"("AreaID":-1,"AreaName":"","DeviceID":41,"DeviceName":"Lobby box","EventID":17,"OfflineType":1,)"
    R"("TimeInfo":{"OccurrenceTime":"2026-12-05T14:52:31Z","TimeDifference":0,"TimeZone":{"TimeZoneBias":0,)"
    R"("DaylightDate":"","StandardDate":"","DaylightBias":0}}}}})";

TEST(HostTextTest, AnEventReadsAsTimeDeviceInputAndId)
{
    EventSummary s;
    ASSERT_TRUE(ParseEventJson(kEvent, s));
    EXPECT_EQ(s.time, "2026-12-05T14:52:31Z");
    EXPECT_EQ(s.deviceName, "Lobby box");
    EXPECT_EQ(s.deviceId, 41);
    EXPECT_EQ(s.sourceName, "AlarmInput 03");
    EXPECT_EQ(s.sourceId, 1003);
    EXPECT_EQ(s.eventId, 17);
    EXPECT_EQ(ReadableEvent(kEvent), "event  2026-12-05T14:52:31Z  Lobby box  AlarmInput 03  id 17");
}

TEST(HostTextTest, ContentThatIsNoEventIsShownAsSuch)
{
    for (const std::string& text : {std::string("not json"), std::string(R"({"Event":{}})"), std::string("[1,2]"),
                                   std::string(R"({"Other":{"BasicInfo":{}}})"), std::string()}) {
        EventSummary s;
        s.eventId = 99;
        EXPECT_FALSE(ParseEventJson(text, s)) << text;
        EXPECT_EQ(s.eventId, 99) << text;
        EXPECT_EQ(ReadableEvent(text).rfind("event  (content is not an event document", 0), 0u) << text;
    }
    const std::string longText(200, 'x');
    EXPECT_LT(ReadableEvent(longText).size(), 120u) << "long content is cut";
}

TEST(HostTextTest, AnEventWithoutTimeStillReads)
{
    const std::string json = R"({"Event":{"BasicInfo":{"DeviceName":"B","SourceName":"AlarmInput 100","EventID":3}}})";
    EXPECT_EQ(ReadableEvent(json), "event  (no time)  B  AlarmInput 100  id 3");
}

TEST(HostTextTest, NotificationsNameTheStatus)
{
    EXPECT_EQ(NotificationLine(101, 1, 0x8000), "notification  device 1 is offline (status 0x8000, message type 101)");
    EXPECT_EQ(NotificationLine(101, 2, 0x8017), "notification  device 2 is online (status 0x8017, message type 101)");
    EXPECT_EQ(StatusName(0x1234), "status 0x1234");
}

TEST(HostTextTest, OutputStatesInOrder)
{
    EXPECT_EQ(OutputsText({}), "none reported");
    EXPECT_EQ(OutputsText({{1, 1013, false}, {2, 1014, true}, {3, 1015, false}}), "1 off  2 on  3 off");
}

TEST(HostTextTest, ErrorCodesCarryTheirMeaning)
{
    struct Case {
        int module;
        int code;
        const char* text;
    };
    const std::vector<Case> cases = {
        {0, 947, "error (0, 947): not a valid device address"},
        {0, 4, "error (0, 4): the device could not be reached or did not answer"},
        {0, 907, "error (0, 907): the device is not logged in"},
        {0, 2, "error (0, 2): the request is unusable, or the device has no connection"},
        {0, 903, "error (0, 903): no device with that id"},
        {0, 10004, "error (0, 10004): not supported"},
        {0, 5, "error (0, 5)"},
        {3, 947, "error (3, 947)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ErrorText(c.module, c.code), c.text);
    }
}

TEST(HostTextTest, ChannelListsThreeALineAndLongListsByTheirEnds)
{
    std::vector<ChannelEntry> few;
    for (int no = 1; no <= 4; ++no) {
        few.push_back({no, static_cast<unsigned>(1000 + no), "AlarmInput 0" + std::to_string(no)});
    }
    const auto lines = ChannelLines(few);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "AlarmInput 01 = id 1001   AlarmInput 02 = id 1002   AlarmInput 03 = id 1003");
    EXPECT_EQ(lines[1], "AlarmInput 04 = id 1004");

    std::vector<ChannelEntry> many;
    for (int no = 1; no <= 100; ++no) {
        many.push_back({no, static_cast<unsigned>(no), "AlarmInput " + std::to_string(no)});
    }
    std::string all;
    for (const auto& line : ChannelLines(many)) {
        all += line + "\n";
    }
    EXPECT_NE(all.find("AlarmInput 8 = id 8"), std::string::npos);
    EXPECT_EQ(all.find("AlarmInput 9 = id 9"), std::string::npos);
    EXPECT_NE(all.find("... 88 more ..."), std::string::npos);
    EXPECT_NE(all.find("AlarmInput 97 = id 97"), std::string::npos);
    EXPECT_NE(all.find("AlarmInput 100 = id 100"), std::string::npos);
    EXPECT_TRUE(ChannelLines({}).empty());
}

TEST(HostTextTest, WrappingKeepsWordsAndIndentation)
{
    EXPECT_EQ(WrapText("short", 10), std::vector<std::string>{"short"});
    EXPECT_EQ(WrapText("one two three four", 9), (std::vector<std::string>{"one two", "three", "four"}));
    EXPECT_EQ(WrapText("  aa bb cc dd", 8), (std::vector<std::string>{"  aa bb", "  cc dd"}));
    EXPECT_EQ(WrapText("averyveryverylongword and", 8), (std::vector<std::string>{"averyveryverylongword", "and"}));
    for (const auto& line : WrapText(std::string(50, 'a') + " " + std::string(30, 'b') + " c d e", 60)) {
        EXPECT_LE(line.size(), 60u) << line;
    }
}

TEST(HostTextTest, TheAddRequestCarriesWhatThePluginReads)
{
    AddRequest r;
    r.alias = R"(Box "north")";
    r.address = "192.0.2.10";
    r.port = 1502;
    r.inputs = 8;
    r.outputs = 4;
    r.inputType = 0;
    r.companyType = 15;
    proto::CRapidJsonProto doc;
    ASSERT_TRUE(doc.set_str(AddRequestJson(r)));
    EXPECT_EQ(doc.get_int_v("/AddDevicesRequest/DeviceType", -1), 2005);
    EXPECT_EQ(doc.get_int_v("/AddDevicesRequest/DeviceProtocol", -1), 101);
    const std::string base = "/AddDevicesRequest/SingleDevice";
    EXPECT_EQ(doc.get_v(base + "/Alias", ""), R"(Box "north")");
    EXPECT_EQ(doc.get_int_v(base + "/Manufacturer", -1), 15);
    EXPECT_EQ(doc.get_v(base + "/AddByAddress/Address", ""), "192.0.2.10");
    EXPECT_EQ(doc.get_int_v(base + "/AddByAddress/Port", -1), 1502);
    EXPECT_EQ(doc.get_int_v(base + "/AddByAddress/IOBox/AlarmInputCount", -1), 8);
    EXPECT_EQ(doc.get_int_v(base + "/AddByAddress/IOBox/AlarmOutputCount", -1), 4);
    EXPECT_EQ(doc.get_int_v(base + "/AddByAddress/IOBox/AlarmInputType", -1), 0);
    EXPECT_EQ(AddRequestJson(r).find('\n'), std::string::npos) << "one line";
}

TEST(HostTextTest, Durations)
{
    EXPECT_EQ(SecondsText(0), "0 s");
    EXPECT_EQ(SecondsText(-4), "0 s");
    EXPECT_EQ(SecondsText(59), "59 s");
    EXPECT_EQ(SecondsText(65), "1 min 05 s");
    EXPECT_EQ(SecondsText(3600), "60 min 00 s");
}

} // namespace
