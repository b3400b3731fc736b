// The device management request handler for I/O boxes.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <climits>
#include <functional>

#include "Access/TesselDetach/DeviceTesselDetach.h"
#include "Common/Platform.h"
#include "Marl/Base/Error.h"
#include "Marl/Base/Singleton.h"
#include "RequestTestSupport.h"
#include "dam/InterfaceManager.h"
#include "support/HostEnvironment.h"
#include "support/LogCapture.h"

using Marl::Base::Error::ErrorCode;
using Marl::Base::Error::GetLastError;
using Marl::Base::Error::SetLastError;
using requesttest::Document;
using requesttest::Ids;
using requesttest::MakeDevice;
using requesttest::MakeNamedDevice;
using requesttest::Quote;

namespace {

const ErrorCode kUntouched(7, 7);
const char* const kSource = "src/Access/TesselDetach/DeviceTesselDetach.cpp";
const char* const kNotSupportedFormat = "[%s]Not support device type!, device_type[%d][%s(%d)]";
const char* const kUnmatchedFormat =
    "[%s]Device type and protocol type are unmatched!, device_type[%d], protocol_type[%d][%s(%d)]";

dam::CIInterfaceManager& Interfaces() { return *Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance(); }

// Exposes what the host reads from its base class.
class InspectableHandler : public iobox::CModbusTesselDetach {
public:
    const std::map<std::string, unsigned int>& OperationLogTypes() const { return m_mapOperationLogType; }
};

// ---- JSON read-back ---------------------------------------------------------------------

struct Parsed {
    explicit Parsed(const std::string& json) { doc.Parse(json.c_str()); }
    rapidjson::Document doc;
};

std::vector<std::string> MemberNames(const rapidjson::Value& object)
{
    std::vector<std::string> names;
    if (!object.IsObject()) {
        return names;
    }
    for (auto it = object.MemberBegin(); it != object.MemberEnd(); ++it) {
        names.emplace_back(it->name.GetString());
    }
    return names;
}

int Int(const rapidjson::Value& object, const char* key)
{
    const auto it = object.FindMember(key);
    return it != object.MemberEnd() && it->value.IsInt() ? it->value.GetInt() : INT_MIN;
}

std::string Text(const rapidjson::Value& object, const char* key)
{
    const auto it = object.FindMember(key);
    return it != object.MemberEnd() && it->value.IsString() ? it->value.GetString() : "<absent>";
}

// ---- fixtures ---------------------------------------------------------------------------

class HandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        requesttest::RegisterTestFactory();
        SetLastError(kUntouched);
        iobox::platform::SetThreadErrorValue(0);
    }
    void TearDown() override { dam::LoginParamCreation::Clear(); }

    testsupport::HostEnvironment env;
    iobox::CModbusTesselDetach handler;
};

// An I/O box as the host keeps it: common feature, Modbus login parameters, two inputs, one output.
struct IOBox {
    std::shared_ptr<dam::CDevice> device;
    std::shared_ptr<dam::CModbusLoginParam> login;
};

IOBox MakeIOBox(bool withOutputs = true)
{
    dam::DeviceInfo info;
    info.id = 42;
    info.guid = "device-guid";
    info.category = 2005;
    info.protocol = 101;
    info.name = "Hall";
    info.serialNumber = "SN-42";
    info.version = "V2.1 build 7";
    info.manufacturer = 15;
    info.deviceType = 7;
    info.subCategory = 207;
    info.passwordStrength = 3;
    IOBox box;
    box.login = std::make_shared<dam::CModbusLoginParam>();
    box.login->SetVal_login_address("10.0.0.5");
    box.login->SetVal_login_port(502);
    box.login->SetVal_user_name("operator");
    box.login->SetVal_input_num(2);
    box.login->SetVal_output_num(withOutputs ? 1 : 0);
    box.login->SetVal_input_type(1);
    info.loginParam = box.login;
    box.device = std::make_shared<dam::CDevice>(info);
    box.device->AddFeature(std::make_shared<dam::CCommonFeature>(box.device));
    std::vector<std::shared_ptr<dam::CChannel>> channels{
        std::make_shared<dam::CAlarmInput>(1001, 1003, "in-1", 1, "Input 1", true, 0, 5),
        std::make_shared<dam::CAlarmInput>(1002, 1003, "in-2", 2, "Input 2", false, 1, -1),
    };
    if (withOutputs) {
        channels.push_back(std::make_shared<dam::CAlarmOutput>(2001, 1004, "out-1", 1, "Relay 1", true, 4));
    }
    box.device->ReplaceChannels(channels);
    return box;
}

// ---- construction and the operations answered without effect ---------------------------

TEST(CModbusTesselDetachTest, ConstructorReplacesTheOperationLogTypeTable)
{
    InspectableHandler handler;
    const std::map<std::string, unsigned int> expected{
        {"device_add", 2910}, {"device_delete", 2912}, {"device_modify", 2911}};
    EXPECT_EQ(handler.OperationLogTypes(), expected);
}

TEST_F(HandlerTest, OperationsWithoutEffectAnswerThroughTheBaseClass)
{
    dam::CDeviceTesselDetach& base = handler;
    auto box = MakeIOBox();
    EXPECT_TRUE(base.AfterDeviceAdded("session", box.device));
    EXPECT_TRUE(base.AfterDeviceModified("session", nullptr, box.login, box.device));
    EXPECT_TRUE(base.IsSupportBatchAdd());
    EXPECT_TRUE(base.BeforeDeleteDevice({1, 2}));
    base.OnChannelStateChanged(1, "text", nullptr, box.device);
    EXPECT_EQ(env.deviceManager->Devices().size(), 0u);
    EXPECT_EQ(env.operationLog->Entries().size(), 0u);
}

struct MatchCase {
    unsigned int category;
    unsigned int protocol;
    bool matched;
    const char* format; // null: nothing logged
    const char* line;
};

TEST_F(HandlerTest, IsDeviceProtocolMatchedAcceptsOnlyTheIOBoxPair)
{
    const MatchCase cases[] = {
        {2005, 101, true, nullptr, nullptr},
        {2005, 100, false, kUnmatchedFormat,
         "[iobox::CModbusTesselDetach::IsDeviceProtocolMatched]Device type and protocol type are unmatched!, "
         "device_type[2005], protocol_type[100]"},
        {2005, 0xFFFFFFFFu, false, kUnmatchedFormat,
         "[iobox::CModbusTesselDetach::IsDeviceProtocolMatched]Device type and protocol type are unmatched!, "
         "device_type[2005], protocol_type[-1]"},
        {2004, 101, false, kNotSupportedFormat,
         "[iobox::CModbusTesselDetach::IsDeviceProtocolMatched]Not support device type!, device_type[2004]"},
        {0xFFFFFFFFu, 101, false, kNotSupportedFormat,
         "[iobox::CModbusTesselDetach::IsDeviceProtocolMatched]Not support device type!, device_type[-1]"},
        {101, 2005, false, kNotSupportedFormat,
         "[iobox::CModbusTesselDetach::IsDeviceProtocolMatched]Not support device type!, device_type[101]"},
    };
    for (const auto& c : cases) {
        testsupport::LogCapture log;
        EXPECT_EQ(handler.IsDeviceProtocolMatched(c.category, c.protocol), c.matched)
            << c.category << '/' << c.protocol;
        if (c.format == nullptr) {
            EXPECT_EQ(log.Lines().size(), 0u) << log.Dump();
        } else {
            EXPECT_EQ(log.CountFormat(c.format), 1u) << log.Dump();
            EXPECT_TRUE(log.HasLine(5, c.line, kSource)) << log.Dump();
        }
    }
}

// ---- add and modify requests -----------------------------------------------------------

const char* const kGoodAdd = R"({"AddDevicesRequest":{"DeviceType":2005,"DeviceProtocol":101,"SingleDevice":{
    "Manufacturer":15,"Alias":"Hall","ByOffline":1,"SubType":1,
    "AddByAddress":{"Address":"10.0.0.1","Port":502,"IOBox":{"AlarmInputCount":8,"AlarmOutputCount":4,
    "AlarmInputType":1}}}}})";
const char* const kGoodModify = R"({"SingleDevicePutRequest":{"DeviceCategory":2005,"AccessProtocalType":101,
    "CompanyType":0,"BaseInfo":{"Alias":"Gate","LoginAddress":"172.16.5.4","LoginPort":503,
    "IOBox":{"AlarmInputCount":16,"AlarmOutputCount":8,"AlarmInputType":0}}}})";

TEST_F(HandlerTest, AddAndModifyRequestsRoundTripIntoModbusLoginParameters)
{
    struct Case {
        bool isPost;
        const char* json;
        requesttest::Fields expected;
    } cases[] = {
        {true, kGoodAdd, {15, "Hall", true, 1, "10.0.0.1", 502, 8, 4, 1}},
        {false, kGoodModify, {0, "Gate", false, 0, "172.16.5.4", 503, 16, 8, 0}},
    };
    for (const auto& c : cases) {
        testsupport::LogCapture log;
        auto doc = Document(c.json);
        std::shared_ptr<dam::CBaseLoginParam> out;
        ASSERT_TRUE(c.isPost ? handler.ParsePostSingleDeviceLoginParam(out, doc.get(), "session")
                             : handler.ParsePutSingleDeviceLoginParam(out, doc.get(), "session"));
        ASSERT_TRUE(out);
        EXPECT_EQ(out->GetVal_access_protocol(), 101);
        requesttest::ExpectLoginFields(*out, c.expected, !c.isPost, c.isPost ? "add" : "modify");
        EXPECT_EQ(iobox::platform::GetThreadErrorValue(), 0u);
        EXPECT_EQ(GetLastError(), kUntouched);
        EXPECT_EQ(log.Lines().size(), 0u) << log.Dump();
    }
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos) {
        text.replace(at, from.size(), to);
    }
    return text;
}

struct ParseFailureCase {
    const char* name;
    bool isPost;
    std::string json; // empty: null request
    bool withFactory;
    const char* format;
    std::string line;
    unsigned long threadError;
    ErrorCode lastError;
};

TEST_F(HandlerTest, RefusedRequestsLeaveTheCallersParametersUntouched)
{
    const std::string post = "[iobox::CModbusTesselDetach::ParsePostSingleDeviceLoginParam]";
    const std::string put = "[iobox::CModbusTesselDetach::ParsePutSingleDeviceLoginParam]";
    const std::string matched = "[iobox::CModbusTesselDetach::IsDeviceProtocolMatched]";
    const std::string process = "[iobox::ProcessLoginParam]";
    const char* const nullFormat = "[%s]request pointer pro_req is null[%s(%d)]";
    const char* const parseFormat = "[%s]Parse login param failed.[%s(%d)]";
    const char* const checkFormat = "[%s]Check login param failed.[%s(%d)]";
    const ParseFailureCase cases[] = {
        {"add, null request", true, "", true, nullFormat, post + "request pointer pro_req is null", 2, kUntouched},
        {"modify, null request", false, "", true, nullFormat, put + "request pointer pro_req is null", 2, kUntouched},
        {"add, empty document", true, "{}", true, kNotSupportedFormat,
         matched + "Not support device type!, device_type[-1]", 2, kUntouched},
        {"modify, empty document", false, "{}", true, kNotSupportedFormat,
         matched + "Not support device type!, device_type[0]", 2, kUntouched},
        {"add, no device type", true, Replace(kGoodAdd, "\"DeviceType\":2005,", ""), true, kNotSupportedFormat,
         matched + "Not support device type!, device_type[-1]", 2, kUntouched},
        {"add, category as text", true, Replace(kGoodAdd, "\"DeviceType\":2005", "\"DeviceType\":\"2005\""), true,
         kNotSupportedFormat, matched + "Not support device type!, device_type[-1]", 2, kUntouched},
        {"add, protocol 100", true, Replace(kGoodAdd, "\"DeviceProtocol\":101", "\"DeviceProtocol\":100"), true,
         kUnmatchedFormat,
         matched + "Device type and protocol type are unmatched!, device_type[2005], protocol_type[100]",
         2, kUntouched},
        {"add, no protocol", true, Replace(kGoodAdd, "\"DeviceProtocol\":101,", ""), true, kUnmatchedFormat,
         matched + "Device type and protocol type are unmatched!, device_type[2005], protocol_type[-1]", 2,
         kUntouched},
        {"modify, protocol as text", false,
         Replace(kGoodModify, "\"AccessProtocalType\":101", "\"AccessProtocalType\":\"101\""), true,
         kUnmatchedFormat,
         matched + "Device type and protocol type are unmatched!, device_type[2005], protocol_type[0]",
         2, kUntouched},
        {"modify, huge category", false,
         Replace(kGoodModify, "\"DeviceCategory\":2005", "\"DeviceCategory\":99999999999"), true,
         kNotSupportedFormat, matched + "Not support device type!, device_type[0]", 2, kUntouched},
        {"add, loopback address", true, Replace(kGoodAdd, "10.0.0.1", "127.0.0.1"), true, checkFormat,
         process + "Check login param failed.", 0, ErrorCode(0, 947)},
        {"add, alias of 65 characters", true, Replace(kGoodAdd, "\"Hall\"", Quote(std::string(65, 'h'))), true,
         checkFormat, process + "Check login param failed.", 0, ErrorCode(0, 2)},
        {"add, no port", true, Replace(kGoodAdd, "\"Port\":502,", ""), true, checkFormat,
         process + "Check login param failed.", 0, ErrorCode(0, 2)},
        {"modify, port 0", false, Replace(kGoodModify, "\"LoginPort\":503", "\"LoginPort\":0"), true, checkFormat,
         process + "Check login param failed.", 0, ErrorCode(0, 2)},
        {"modify, address as number", false, Replace(kGoodModify, "\"172.16.5.4\"", "172"), true, checkFormat,
         process + "Check login param failed.", 0, ErrorCode(0, 947)},
        {"add, no factory serves the pair", true, kGoodAdd, false, parseFormat, process + "Parse login param failed.",
         0, ErrorCode(0, 2)},
        {"modify, no factory serves the pair", false, kGoodModify, false, parseFormat,
         process + "Parse login param failed.", 0, kUntouched},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(kUntouched);
        iobox::platform::SetThreadErrorValue(0);
        if (!c.withFactory) {
            dam::LoginParamCreation::Clear();
        }
        testsupport::LogCapture log;
        auto doc = Document(c.json.empty() ? "{}" : c.json);
        proto::IProto* request = c.json.empty() ? nullptr : doc.get();
        const auto previous = std::make_shared<dam::CModbusLoginParam>();
        std::shared_ptr<dam::CBaseLoginParam> out = previous;
        const bool ok = c.isPost ? handler.ParsePostSingleDeviceLoginParam(out, request, "session")
                                 : handler.ParsePutSingleDeviceLoginParam(out, request, "session");
        EXPECT_FALSE(ok);
        EXPECT_EQ(out, previous);
        EXPECT_EQ(iobox::platform::GetThreadErrorValue(), c.threadError);
        EXPECT_EQ(GetLastError(), c.lastError);
        EXPECT_EQ(log.CountFormat(c.format), 1u) << log.Dump();
        EXPECT_TRUE(log.HasLine(5, c.line, kSource)) << log.Dump();
        requesttest::RegisterTestFactory();
    }
}

// ---- filtering --------------------------------------------------------------------------

std::vector<std::shared_ptr<dam::IDevice>> HostDevices()
{
    return {
        MakeDevice({1, "Hall North", "SN-001", "", 209}), MakeDevice({2, "Gate", "SN-HALL-2", "", 207}),
        MakeDevice({3, "Yard", "SN-003", "hall annex", 220}), MakeDevice({4, "Roof", "SN-004", "", 100}),
        MakeDevice({5, "HALL", "X", "", 100}),           MakeDevice({6, "Office", "SN-006", "", 209}),
    };
}

std::string Criteria(const std::string& members)
{
    return "{\"DevicesRequest\":{\"SearchCriteria\":{" + members + "}}}";
}

struct FilterCase {
    const char* name;
    std::string json; // empty: null request
    std::vector<int> kept;
};

TEST_F(HandlerTest, FilterKeepsDevicesMeetingBothCriteriaOrEitherOne)
{
    const FilterCase cases[] = {
        {"no criteria", Criteria(""), {1, 2, 3, 4, 5, 6}},
        {"empty document", "{}", {1, 2, 3, 4, 5, 6}},
        {"null request", "", {1, 2, 3, 4, 5, 6}},
        {"alias in name, serial or search text", Criteria("\"Alias\":\"hall\""), {1, 2, 3, 5}},
        {"209 widens to 207 and 220", Criteria("\"DeviceSubCategorys\":\"209\""), {1, 2, 3, 6}},
        {"207 alone does not widen", Criteria("\"DeviceSubCategorys\":\"207\""), {2}},
        {"AND of alias and sub-category",
         Criteria("\"Alias\":\"hall\",\"DeviceSubCategorys\":\"209\",\"LogicalOperator\":1"), {1, 2, 3}},
        {"AND with a list of sub-categories", Criteria("\"Alias\":\"hall\",\"DeviceSubCategorys\":\"100, 207\""),
         {2, 5}},
        {"AND for an unknown operator",
         Criteria("\"Alias\":\"hall\",\"DeviceSubCategorys\":\"100\",\"LogicalOperator\":3"),
         {5}},
        {"AND when the operator is text",
         Criteria("\"Alias\":\"hall\",\"DeviceSubCategorys\":\"100\",\"LogicalOperator\":\"2\""),
         {5}},
        {"OR of alias and sub-category",
         Criteria("\"Alias\":\"hall\",\"DeviceSubCategorys\":\"100\",\"LogicalOperator\":2"), {1, 2, 3, 4, 5}},
        {"OR keeps a widened sub-category whose alias misses",
         Criteria("\"Alias\":\"zzz\",\"DeviceSubCategorys\":\"209\",\"LogicalOperator\":2"), {1, 2, 3, 6}},
        {"OR with an alias that matches one",
         Criteria("\"Alias\":\"roof\",\"DeviceSubCategorys\":\"9\",\"LogicalOperator\":2"),
         {4}},
        {"OR with no criteria keeps every device", Criteria("\"LogicalOperator\":2"), {1, 2, 3, 4, 5, 6}},
        {"OR with nothing matching", Criteria("\"Alias\":\"zzz\",\"DeviceSubCategorys\":\"9\",\"LogicalOperator\":2"),
         {}},
    };
    for (const auto& c : cases) {
        auto doc = Document(c.json.empty() ? "{}" : c.json);
        auto devices = HostDevices();
        unsigned int module = 11;
        unsigned int code = 12;
        EXPECT_TRUE(handler.FilterDevicesByCondition(module, code, devices, c.json.empty() ? nullptr : doc.get()))
            << c.name;
        EXPECT_EQ(Ids(devices), c.kept) << c.name;
        EXPECT_EQ(module, 11u) << c.name;
        EXPECT_EQ(code, 12u) << c.name;
    }
}

TEST_F(HandlerTest, FilterCopesWithEmptyListsAndEmptyEntries)
{
    auto doc = Document(Criteria("\"Alias\":\"hall\""));
    unsigned int module = 0;
    unsigned int code = 0;
    std::vector<std::shared_ptr<dam::IDevice>> none;
    EXPECT_TRUE(handler.FilterDevicesByCondition(module, code, none, doc.get()));
    EXPECT_TRUE(none.empty());

    auto devices = HostDevices();
    devices.insert(devices.begin() + 1, nullptr);
    devices.push_back(nullptr);
    EXPECT_TRUE(handler.FilterDevicesByCondition(module, code, devices, doc.get()));
    EXPECT_EQ(Ids(devices), (std::vector<int>{1, 2, 3, 5}));
}

// ---- deletion ---------------------------------------------------------------------------

TEST_F(HandlerTest, DeleteStopsAtAMissingIdAfterDeletingTheOnesBefore)
{
    for (int id : {5, 7}) {
        env.deviceManager->AddDevice(MakeNamedDevice(id, "Box " + std::to_string(id)));
    }
    unsigned int module = 11;
    unsigned int code = 12;
    EXPECT_FALSE(handler.DeleteDevice(module, code, {5, 6, 7}, "session"));
    EXPECT_EQ(module, 0u);
    EXPECT_EQ(code, 903u);
    EXPECT_EQ(Ids(env.deviceManager->Devices()), std::vector<int>{7});
    const auto entries = env.operationLog->Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].userSession, "session");
    EXPECT_EQ(entries[0].type, 2912u);
    EXPECT_EQ(entries[0].deviceId, 5u);
    EXPECT_EQ(entries[0].deviceName, "Box 5");
    EXPECT_FALSE(entries[0].flag);
    EXPECT_EQ(entries[0].value1, 0);
    EXPECT_EQ(entries[0].value2, 0);
    EXPECT_EQ(entries[0].text, "");
}

TEST_F(HandlerTest, DeleteRemovesOnlyIOBoxesAndLogsEach)
{
    env.deviceManager->AddDevice(MakeNamedDevice(1, "A"));
    env.deviceManager->AddDevice(MakeNamedDevice(2, "B"));
    env.deviceManager->AddDevice(MakeNamedDevice(3, "Camera", 1000));
    unsigned int module = 11;
    unsigned int code = 12;
    EXPECT_TRUE(handler.DeleteDevice(module, code, {}, "s"));
    EXPECT_EQ(env.deviceManager->Devices().size(), 3u);
    EXPECT_TRUE(handler.DeleteDevice(module, code, {2, 1}, "s"));
    EXPECT_EQ(Ids(env.deviceManager->Devices()), std::vector<int>{3});
    ASSERT_EQ(env.operationLog->Entries().size(), 2u);
    EXPECT_EQ(env.operationLog->Entries()[0].deviceName, "B");
    EXPECT_EQ(env.operationLog->Entries()[1].deviceName, "A");
    // Another category's device of that id is no I/O box.
    EXPECT_FALSE(handler.DeleteDevice(module, code, {3}, "s"));
    EXPECT_EQ(code, 903u);
    EXPECT_EQ(env.deviceManager->Devices().size(), 1u);
}

TEST_F(HandlerTest, DeleteRefusalOfTheHostIsLoggedAndEndsTheCall)
{
    env.deviceManager->AddDevice(MakeNamedDevice(5, "Stuck box"));
    env.deviceManager->AddDevice(MakeNamedDevice(6, "Next"));
    env.deviceManager->SetFailDelete(5, true);
    testsupport::LogCapture log;
    unsigned int module = 11;
    unsigned int code = 12;
    EXPECT_FALSE(handler.DeleteDevice(module, code, {5, 6}, "s"));
    EXPECT_EQ(module, 11u);
    EXPECT_EQ(code, 12u);
    EXPECT_EQ(env.deviceManager->Devices().size(), 2u);
    EXPECT_TRUE(env.operationLog->Entries().empty());
    EXPECT_EQ(log.CountFormat("[%s]Failed to delete alarm host of IOBox device id = %d, name = %s[%s(%d)]"), 1u);
    EXPECT_TRUE(log.HasLine(5,
                            "[iobox::CModbusTesselDetach::DeleteDevice]Failed to delete alarm host of IOBox device id "
                            "= 5, name = Stuck box",
                            kSource))
        << log.Dump();
}

TEST_F(HandlerTest, DeleteWithoutHostManagersChangesNothing)
{
    struct Case {
        bool deviceManager;
        bool operationLog;
        const char* format;
    } cases[] = {
        {false, true, "[%s]Device manager ptr is null![%s(%d)]"},
        {true, false, "[%s]Log write ptr is null![%s(%d)]"},
        {false, false, "[%s]Device manager ptr is null![%s(%d)]"},
    };
    env.deviceManager->AddDevice(MakeNamedDevice(5, "Box"));
    for (const auto& c : cases) {
        Interfaces().SetDeviceManager(c.deviceManager ? env.deviceManager : nullptr);
        Interfaces().SetWriteOperationLog(c.operationLog ? env.operationLog : nullptr);
        testsupport::LogCapture log;
        unsigned int module = 11;
        unsigned int code = 12;
        EXPECT_FALSE(handler.DeleteDevice(module, code, {5}, "s")) << c.format;
        EXPECT_EQ(log.Lines().size(), 1u) << log.Dump();
        EXPECT_EQ(log.CountFormat(c.format), 1u) << log.Dump();
        EXPECT_EQ(module, 11u);
        EXPECT_EQ(code, 12u);
        EXPECT_EQ(env.deviceManager->Devices().size(), 1u);
    }
}

// ---- device information -----------------------------------------------------------------

TEST_F(HandlerTest, DeviceInformationWritesEveryKeyInOrderUnderTheTargetNode)
{
    auto box = MakeIOBox();
    env.areaManager->SetChannelArea(1001, 1003, 9, "Lobby");
    env.areaManager->SetChannelArea(2001, 1004, 10, "Plant room");
    box.device->SetOnline(true);
    box.device->SetOnlineError(ErrorCode(0, 0));
    proto::CRapidJsonProto doc;
    void* target = doc.add_object(nullptr, "Device");
    ASSERT_NE(target, nullptr);
    ASSERT_TRUE(handler.EncodeSingleDeviceInfo(&doc, target, box.device, "AlarmInputList,AlarmOutputList,Status",
                                               "session", 3));
    Parsed parsed(doc.get_str(0));
    ASSERT_TRUE(parsed.doc.IsObject()) << doc.get_str(0);
    EXPECT_EQ(MemberNames(parsed.doc), std::vector<std::string>{"Device"});
    const rapidjson::Value& device = parsed.doc["Device"];
    EXPECT_EQ(MemberNames(device),
              (std::vector<std::string>{"BaseInfo", "AlarmInputList", "AlarmOutputList", "Status"}));

    const rapidjson::Value& base = device["BaseInfo"];
    EXPECT_EQ(MemberNames(base),
              (std::vector<std::string>{"ID", "Method", "DeviceCategory", "DeviceSubCategory", "AlarmHostSubCategory",
                                        "Manufacturer", "ProtocolTypeCategory", "Alias", "SerialNumber",
                                        "LoginAddress", "IPAddress", "Port", "UserName", "Password",
                                        "FirmwareVersion", "SoftwareVersion", "AvailableZoneNum",
                                        "AvailableTriggerOutNum", "IOBox"}));
    EXPECT_EQ(Int(base, "ID"), 42);
    EXPECT_EQ(Int(base, "Method"), 3);
    EXPECT_EQ(Int(base, "DeviceCategory"), 2005);
    EXPECT_EQ(Int(base, "DeviceSubCategory"), 207);
    EXPECT_EQ(Int(base, "AlarmHostSubCategory"), 209);
    EXPECT_EQ(Int(base, "Manufacturer"), 15);
    EXPECT_EQ(Int(base, "ProtocolTypeCategory"), 101);
    EXPECT_EQ(Text(base, "Alias"), "Hall");
    EXPECT_EQ(Text(base, "SerialNumber"), "SN-42");
    EXPECT_EQ(Text(base, "LoginAddress"), "10.0.0.5");
    EXPECT_EQ(Text(base, "IPAddress"), "10.0.0.5");
    EXPECT_EQ(Int(base, "Port"), 502);
    EXPECT_EQ(Text(base, "UserName"), "operator");
    EXPECT_EQ(Text(base, "Password"), "");
    EXPECT_EQ(Text(base, "FirmwareVersion"), "V2.1 build 7");
    EXPECT_EQ(Text(base, "SoftwareVersion"), "V2.1 build 7");
    EXPECT_EQ(Int(base, "AvailableZoneNum"), 2);
    EXPECT_EQ(Int(base, "AvailableTriggerOutNum"), 1);
    const rapidjson::Value& ioBox = base["IOBox"];
    EXPECT_EQ(MemberNames(ioBox), (std::vector<std::string>{"AlarmInputCount", "AlarmOutputCount", "AlarmInputType"}));
    EXPECT_EQ(Int(ioBox, "AlarmInputCount"), 2);
    EXPECT_EQ(Int(ioBox, "AlarmOutputCount"), 1);
    EXPECT_EQ(Int(ioBox, "AlarmInputType"), 1);

    const rapidjson::Value& inputs = device["AlarmInputList"]["AlarmInput"];
    ASSERT_TRUE(inputs.IsArray());
    ASSERT_EQ(inputs.Size(), 2u);
    const std::vector<std::string> inputKeys{"ID",     "Guid",            "No",             "Name",       "Type",
                                             "Online", "RelatedCameraNo", "AlarmInputType", "AbilitySet", "Area"};
    EXPECT_EQ(MemberNames(inputs[0]), inputKeys);
    EXPECT_EQ(MemberNames(inputs[1]), inputKeys);
    EXPECT_EQ(Int(inputs[0], "ID"), 1001);
    EXPECT_EQ(Text(inputs[0], "Guid"), "in-1");
    EXPECT_EQ(Int(inputs[0], "No"), 1);
    EXPECT_EQ(Text(inputs[0], "Name"), "Input 1");
    EXPECT_EQ(Int(inputs[0], "Type"), 0);
    EXPECT_EQ(Int(inputs[0], "Online"), 1);
    EXPECT_EQ(Int(inputs[0], "RelatedCameraNo"), 5);
    EXPECT_EQ(Int(inputs[1], "Type"), 1);
    EXPECT_EQ(Int(inputs[1], "Online"), 0);
    EXPECT_EQ(Int(inputs[1], "RelatedCameraNo"), -1);
    EXPECT_EQ(Int(inputs[1], "AlarmInputType"), 0);
    EXPECT_EQ(MemberNames(inputs[0]["AbilitySet"]), (std::vector<std::string>{"IsSupportGuard", "IsSupportByPass"}));
    EXPECT_EQ(Int(inputs[0]["AbilitySet"], "IsSupportGuard"), 0);
    EXPECT_EQ(Int(inputs[0]["AbilitySet"], "IsSupportByPass"), 0);
    EXPECT_EQ(MemberNames(inputs[0]["Area"]), (std::vector<std::string>{"AreaID", "AreaName"}));
    EXPECT_EQ(Int(inputs[0]["Area"], "AreaID"), 9);
    EXPECT_EQ(Text(inputs[0]["Area"], "AreaName"), "Lobby");
    EXPECT_EQ(Int(inputs[1]["Area"], "AreaID"), -1);
    EXPECT_EQ(Text(inputs[1]["Area"], "AreaName"), "");

    const rapidjson::Value& outputs = device["AlarmOutputList"]["AlarmOutput"];
    ASSERT_TRUE(outputs.IsArray());
    ASSERT_EQ(outputs.Size(), 1u);
    EXPECT_EQ(MemberNames(outputs[0]),
              (std::vector<std::string>{"ID", "Guid", "No", "Type", "Name", "Online", "Area"}));
    EXPECT_EQ(Int(outputs[0], "ID"), 2001);
    EXPECT_EQ(Text(outputs[0], "Guid"), "out-1");
    EXPECT_EQ(Int(outputs[0], "No"), 1);
    EXPECT_EQ(Int(outputs[0], "Type"), 4);
    EXPECT_EQ(Text(outputs[0], "Name"), "Relay 1");
    EXPECT_EQ(Int(outputs[0], "Online"), 1);
    EXPECT_EQ(Int(outputs[0]["Area"], "AreaID"), 10);
    EXPECT_EQ(Text(outputs[0]["Area"], "AreaName"), "Plant room");
}

TEST_F(HandlerTest, GetSingleDeviceInfoWritesAllPartsWithoutMethodAndAnEmptyOutputList)
{
    auto box = MakeIOBox(false);
    proto::CRapidJsonProto doc;
    ASSERT_TRUE(handler.GetSingleDeviceInfo(&doc, nullptr, box.device, "session"));
    Parsed parsed(doc.get_str(0));
    EXPECT_EQ(MemberNames(parsed.doc),
              (std::vector<std::string>{"BaseInfo", "AlarmInputList", "AlarmOutputList", "Status"}));
    EXPECT_FALSE(parsed.doc["BaseInfo"].HasMember("Method"));
    EXPECT_EQ(parsed.doc["AlarmInputList"]["AlarmInput"].Size(), 2u);
    ASSERT_TRUE(parsed.doc["AlarmOutputList"].IsObject());
    EXPECT_EQ(parsed.doc["AlarmOutputList"].MemberCount(), 0u);
    // Without an area manager every channel reports no area.
    Interfaces().SetAreaManager(nullptr);
    env.areaManager->SetChannelArea(1001, 1003, 9, "Lobby");
    proto::CRapidJsonProto noAreas;
    ASSERT_TRUE(handler.GetSingleDeviceInfo(&noAreas, nullptr, box.device, "session"));
    Parsed parsedNoAreas(noAreas.get_str(0));
    EXPECT_EQ(Int(parsedNoAreas.doc["AlarmInputList"]["AlarmInput"][0]["Area"], "AreaID"), -1);
}

struct StatusCase {
    bool online;
    bool active;
    int strength;
    std::vector<int> expected; // Network, IsActive, PasswordStrength, ErrorModule, ErrorCode
};

TEST_F(HandlerTest, StatusTakesTheErrorMatchingTheOnlineState)
{
    const StatusCase cases[] = {
        {true, true, 3, {1, 1, 3, 1, 11}},
        {false, true, 0, {0, 1, 0, 2, 22}},
        {false, false, 2, {0, 0, 2, 2, 22}},
        {true, false, 1, {1, 0, 1, 1, 11}},
    };
    for (const auto& c : cases) {
        auto box = MakeIOBox();
        box.device->SetOnline(c.online);
        box.device->SetActive(c.active);
        box.device->SetPasswordStrength(c.strength);
        box.device->SetOnlineError(ErrorCode(1, 11));
        box.device->SetOfflineError(ErrorCode(2, 22));
        proto::CRapidJsonProto doc;
        ASSERT_TRUE(handler.EncodeSingleDeviceInfo(&doc, nullptr, box.device, "Status", "s", iobox::kNoMethod));
        Parsed parsed(doc.get_str(0));
        const rapidjson::Value& status = parsed.doc["Status"];
        EXPECT_EQ(MemberNames(status),
                  (std::vector<std::string>{"Network", "IsActive", "PasswordStrength", "ErrorModule", "ErrorCode"}));
        const std::vector<int> got{Int(status, "Network"), Int(status, "IsActive"), Int(status, "PasswordStrength"),
                                   Int(status, "ErrorModule"), Int(status, "ErrorCode")};
        EXPECT_EQ(got, c.expected) << "online " << c.online << " active " << c.active;
    }
}

// Remembers which objects were added directly under the root, in order.
class RecordingProto : public proto::CRapidJsonProto {
public:
    void* add_object(void* node, const std::string& key) override
    {
        if (node == nullptr) {
            rootObjects.push_back(key);
        }
        return proto::CRapidJsonProto::add_object(node, key);
    }
    std::vector<std::string> rootObjects;
};

struct FieldListCase {
    const char* fields;
    std::vector<std::string> written; // parts written, in order
    std::vector<std::string> members; // what the document holds after (a key written again replaces its value)
};

TEST_F(HandlerTest, FieldListNamesThePartsInOrderExactlyAndRepeatedly)
{
    const FieldListCase cases[] = {
        {"", {"BaseInfo"}, {"BaseInfo"}},
        {",Status,,Bogus", {"BaseInfo", "Status"}, {"BaseInfo", "Status"}},
        {"Status,Status", {"BaseInfo", "Status", "Status"}, {"BaseInfo", "Status"}},
        {"AlarmOutputList,AlarmInputList", {"BaseInfo", "AlarmOutputList", "AlarmInputList"},
         {"BaseInfo", "AlarmOutputList", "AlarmInputList"}},
        {"status,ALARMINPUTLIST, Status,Status ", {"BaseInfo"}, {"BaseInfo"}},
        {"AlarmInputList,Unknown,AlarmInputList", {"BaseInfo", "AlarmInputList", "AlarmInputList"},
         {"BaseInfo", "AlarmInputList"}},
        {",,,", {"BaseInfo"}, {"BaseInfo"}},
    };
    auto box = MakeIOBox();
    for (const auto& c : cases) {
        RecordingProto doc;
        ASSERT_TRUE(handler.EncodeSingleDeviceInfo(&doc, nullptr, box.device, c.fields, "s", iobox::kNoMethod));
        EXPECT_EQ(doc.rootObjects, c.written) << '"' << c.fields << '"';
        Parsed parsed(doc.get_str(0));
        EXPECT_EQ(MemberNames(parsed.doc), c.members) << '"' << c.fields << "\" -> " << doc.get_str(0);
        if (parsed.doc.HasMember("AlarmInputList")) {
            // Each writing starts a fresh list: the channels appear once.
            EXPECT_EQ(parsed.doc["AlarmInputList"]["AlarmInput"].Size(), 2u) << c.fields;
        }
    }
}

struct PasswordCase {
    const char* name;
    std::string stored;
    std::string session;
    bool sessionManager;
    bool encrypted; // false: written as the empty text
    bool result;
};

TEST_F(HandlerTest, PasswordIsNeverWrittenInPlain)
{
    const PasswordCase cases[] = {
        {"empty password", "", "session", true, false, true},
        {"empty password without session manager", "", "session", false, false, true},
        {"encrypted for the session", "s3cret", "session", true, true, true},
        {"session refused", "s3cret", "", true, false, false},
        {"no session manager", "s3cret", "session", false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Interfaces().SetUserSessionManager(c.sessionManager ? env.userSessionManager : nullptr);
        std::string out = "previous";
        EXPECT_EQ(iobox::EncryptPassword(out, c.stored, c.session), c.result);
        EXPECT_NE(out, "previous");
        if (!c.encrypted) {
            EXPECT_EQ(out, "");
        } else {
            std::string plain;
            ASSERT_TRUE(env.userSessionManager->DecryptBySession(plain, out, c.session));
            EXPECT_EQ(plain, c.stored);
            EXPECT_EQ(out.find(c.stored), std::string::npos);
        }

        auto box = MakeIOBox();
        box.login->SetVal_password(c.stored);
        proto::CRapidJsonProto doc;
        ASSERT_TRUE(handler.EncodeSingleDeviceInfo(&doc, nullptr, box.device, "", c.session, iobox::kNoMethod));
        Parsed parsed(doc.get_str(0));
        const std::string written = Text(parsed.doc["BaseInfo"], "Password");
        if (!c.encrypted) {
            EXPECT_EQ(written, "");
        } else {
            std::string plain;
            ASSERT_TRUE(env.userSessionManager->DecryptBySession(plain, written, c.session));
            EXPECT_EQ(plain, c.stored);
        }
        if (!c.stored.empty()) {
            EXPECT_EQ(doc.get_str(0).find(c.stored), std::string::npos) << doc.get_str(0);
        }
    }
}

TEST_F(HandlerTest, DevicesWithoutFeatureOrModbusParametersAreEncodedAsNothing)
{
    struct Case {
        const char* name;
        std::function<void(IOBox&)> spoil;
    } cases[] = {
        {"no common feature",
         [](IOBox& box) {
             dam::DeviceInfo info;
             info.category = 2005;
             info.loginParam = box.login;
             box.device = std::make_shared<dam::CDevice>(info);
         }},
        {"common login parameters",
         [](IOBox& box) { box.device->SetDeviceLoginParam(std::make_shared<dam::CBaseLoginParam>()); }},
        {"no login parameters", [](IOBox& box) { box.device->SetDeviceLoginParam(nullptr); }},
    };
    for (const auto& c : cases) {
        auto box = MakeIOBox();
        c.spoil(box);
        proto::CRapidJsonProto doc;
        EXPECT_TRUE(handler.EncodeSingleDeviceInfo(&doc, nullptr, box.device, "Status", "s", 1)) << c.name;
        EXPECT_TRUE(handler.GetSingleDeviceInfo(&doc, nullptr, box.device, "s")) << c.name;
        EXPECT_EQ(doc.get_str(0), "{}") << c.name;
    }
    auto box = MakeIOBox();
    EXPECT_TRUE(handler.GetSingleDeviceInfo(nullptr, nullptr, box.device, "s"));
}

TEST_F(HandlerTest, DeviceInformationRefusesAnEmptyDeviceOrAnotherCategory)
{
    struct Case {
        bool single;
        const char* function;
    } cases[] = {
        {true, "[iobox::CModbusTesselDetach::EncodeSingleDeviceInfo]"},
        {false, "[iobox::CModbusTesselDetach::GetSingleDeviceInfo]"},
    };
    dam::DeviceInfo cameraInfo;
    cameraInfo.category = 1000;
    cameraInfo.deviceType = 77;
    auto camera = std::make_shared<dam::CDevice>(cameraInfo);
    camera->AddFeature(std::make_shared<dam::CCommonFeature>(camera));
    camera->SetDeviceLoginParam(std::make_shared<dam::CModbusLoginParam>());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.function);
        auto encode = [&](std::shared_ptr<dam::IDevice> device, proto::IProto& doc) {
            return c.single ? handler.EncodeSingleDeviceInfo(&doc, nullptr, device, "Status", "s", 1)
                            : handler.GetSingleDeviceInfo(&doc, nullptr, device, "s");
        };
        iobox::platform::SetThreadErrorValue(0);
        testsupport::LogCapture log;
        proto::CRapidJsonProto doc;
        EXPECT_FALSE(encode(nullptr, doc));
        EXPECT_EQ(log.CountFormat("[%s]Device point is null![%s(%d)]"), 1u) << log.Dump();
        EXPECT_TRUE(log.HasLine(5, std::string(c.function) + "Device point is null!", kSource)) << log.Dump();
        EXPECT_EQ(iobox::platform::GetThreadErrorValue(), 0u);

        log.Clear();
        EXPECT_FALSE(encode(camera, doc));
        EXPECT_EQ(log.CountFormat(kNotSupportedFormat), 1u) << log.Dump();
        EXPECT_TRUE(log.HasLine(5, std::string(c.function) + "Not support device type!, device_type[77]", kSource))
            << log.Dump();
        EXPECT_EQ(iobox::platform::GetThreadErrorValue(), 2u);
        EXPECT_EQ(doc.get_str(0), "{}");
    }
}

TEST_F(HandlerTest, ChannelsOfTheWrongClassOrTypeWriteNothing)
{
    dam::DeviceInfo info;
    info.category = 2005;
    auto device = std::make_shared<dam::CDevice>(info);
    // A plain channel filed as an alarm input: its list element stays as added.
    device->ReplaceChannels({std::make_shared<dam::CChannel>(1, 1003, "g", 1, "plain", true)});
    proto::CRapidJsonProto doc;
    void* list = doc.add_object(nullptr, "AlarmInputList");
    iobox::EncodeChannelList(&doc, list, "AlarmInput", 1003, device, true);
    void* other = doc.add_object(nullptr, "Other");
    iobox::EncodeChannel(&doc, other, std::make_shared<dam::CChannel>(2, 1005, "g", 1, "video", true), device, true);
    iobox::EncodeChannel(&doc, other, nullptr, device, true);
    iobox::EncodeChannel(&doc, other, std::make_shared<dam::CAlarmInput>(3, 1003, "g", 1, "in", true), nullptr, true);
    iobox::EncodeChannelList(&doc, list, "AlarmInput", 1003, nullptr, true);
    EXPECT_EQ(doc.get_str(0), R"({"AlarmInputList":{"AlarmInput":[""]},"Other":{}})");
}

TEST_F(HandlerTest, ChannelAreaIsWrittenOnlyWithTheFlag)
{
    env.areaManager->SetChannelArea(5, 1004, 3, "Dock");
    auto output = std::make_shared<dam::CAlarmOutput>(5, 1004, "g", 1, "relay", false, 2);
    proto::CRapidJsonProto doc;
    iobox::EncodeAlarmOutput(&doc, doc.add_object(nullptr, "WithArea"), output, true);
    iobox::EncodeAlarmOutput(&doc, doc.add_object(nullptr, "WithoutArea"), output, false);
    iobox::EncodeChannelArea(&doc, doc.add_object(nullptr, "NoChannel"), nullptr, true);
    EXPECT_EQ(doc.get_str(0),
              R"({"WithArea":{"ID":5,"Guid":"g","No":1,"Type":2,"Name":"relay","Online":0,)"
              R"("Area":{"AreaID":3,"AreaName":"Dock"}},)"
              R"("WithoutArea":{"ID":5,"Guid":"g","No":1,"Type":2,"Name":"relay","Online":0},)"
              R"("NoChannel":{"Area":{"AreaID":-1,"AreaName":""}}})");
}

struct SplitCase {
    const char* text;
    std::vector<std::string> pieces;
};

TEST(SplitToStringsTest, SkipsEmptyPiecesAndKeepsTheRestVerbatim)
{
    const SplitCase cases[] = {
        {"", {}},
        {",", {}},
        {"Status", {"Status"}},
        {"a,b,,c,", {"a", "b", "c"}},
        {",,a", {"a"}},
        {" a , b ", {" a ", " b "}},
        {"Status,Status", {"Status", "Status"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(iobox::SplitToStrings(c.text, ','), c.pieces) << '"' << c.text << '"';
    }
}

} // namespace
