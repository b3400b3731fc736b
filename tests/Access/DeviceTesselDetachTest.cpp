// The device management request handler for I/O boxes.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

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

namespace {

const ErrorCode kUntouched(7, 7);
const char* const kSource = "src/Access/TesselDetach/DeviceTesselDetach.cpp";

dam::CIInterfaceManager& Interfaces() { return *Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance(); }
unsigned long ThreadError() { return iobox::platform::GetThreadErrorValue(); }

std::vector<std::string> MemberNames(const std::string& json)
{
    rapidjson::Document doc;
    doc.Parse(json.c_str());
    std::vector<std::string> names;
    for (auto it = doc.MemberBegin(); doc.IsObject() && it != doc.MemberEnd(); ++it) {
        names.emplace_back(it->name.GetString());
    }
    return names;
}

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

// ---- add and modify requests -----------------------------------------------------------

const char* const kGoodAdd = R"({"AddDevicesRequest":{"DeviceType":2005,"DeviceProtocol":101,"SingleDevice":{
    "Manufacturer":15,"Alias":"Hall","ByOffline":1,"SubType":1,
    "AddByAddress":{"Address":"10.0.0.1","Port":502,"IOBox":{"AlarmInputCount":8,"AlarmOutputCount":4,
    "AlarmInputType":1}}}}})";
const char* const kGoodModify = R"({"SingleDevicePutRequest":{"DeviceCategory":2005,"AccessProtocalType":101,
    "CompanyType":0,"BaseInfo":{"Alias":"Gate","LoginAddress":"172.16.5.4","LoginPort":503,
    "IOBox":{"AlarmInputCount":16,"AlarmOutputCount":8,"AlarmInputType":0}}}})";

bool Parse(iobox::CModbusTesselDetach& handler, bool isAdd, std::shared_ptr<dam::CBaseLoginParam>& out,
           proto::IProto* request)
{
    return isAdd ? handler.ParsePostSingleDeviceLoginParam(out, request, "session")
                 : handler.ParsePutSingleDeviceLoginParam(out, request, "session");
}

TEST_F(HandlerTest, AddAndModifyRequestsBecomeModbusLoginParameters)
{
    testsupport::LogCapture log;
    for (bool isAdd : {true, false}) {
        std::shared_ptr<dam::CBaseLoginParam> out;
        ASSERT_TRUE(Parse(handler, isAdd, out, Document(isAdd ? kGoodAdd : kGoodModify).get()));
        ASSERT_TRUE(out);
        requesttest::ExpectLoginFields(*out, isAdd ? requesttest::Fields{15, "Hall", true, 1, "10.0.0.1", 502, 8, 4, 1}
                                                   : requesttest::Fields{0, "Gate", false, 0, "172.16.5.4", 503, 16, 8, 0},
                                       !isAdd);
    }
    EXPECT_EQ(ThreadError(), 0u);
    EXPECT_EQ(GetLastError(), kUntouched);
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
}

std::string Replace(std::string text, const std::string& from, const std::string& to)
{
    const auto at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST_F(HandlerTest, RefusedRequestsLeaveTheCallersParametersUntouched)
{
    const std::string matched = "[iobox::CModbusTesselDetach::IsDeviceProtocolMatched]";
    const std::string notSupported = matched + "Not support device type!, device_type[";
    const std::string unmatched = matched + "Device type and protocol type are unmatched!, device_type[2005], ";
    const std::string checkFailed = "[iobox::ProcessLoginParam]Check login param failed.";
    const struct {
        const char* name;
        bool isAdd;
        std::string json; // empty: null request
        bool withFactory;
        std::string line;
        unsigned long threadError;
        ErrorCode lastError;
    } cases[] = {
        {"add, null request", true, "", true,
         "[iobox::CModbusTesselDetach::ParsePostSingleDeviceLoginParam]request pointer pro_req is null", 2, kUntouched},
        {"modify, null request", false, "", true,
         "[iobox::CModbusTesselDetach::ParsePutSingleDeviceLoginParam]request pointer pro_req is null", 2, kUntouched},
        {"add, empty document", true, "{}", true, notSupported + "-1]", 2, kUntouched},
        {"modify, empty document", false, "{}", true, notSupported + "0]", 2, kUntouched},
        {"add, category as text", true, Replace(kGoodAdd, "\"DeviceType\":2005", "\"DeviceType\":\"2005\""), true,
         notSupported + "-1]", 2, kUntouched},
        {"modify, huge category", false,
         Replace(kGoodModify, "\"DeviceCategory\":2005", "\"DeviceCategory\":99999999999"), true, notSupported + "0]",
         2, kUntouched},
        {"add, protocol 100", true, Replace(kGoodAdd, "\"DeviceProtocol\":101", "\"DeviceProtocol\":100"), true,
         unmatched + "protocol_type[100]", 2, kUntouched},
        {"add, no protocol", true, Replace(kGoodAdd, "\"DeviceProtocol\":101,", ""), true,
         unmatched + "protocol_type[-1]", 2, kUntouched},
        {"modify, protocol as text", false,
         Replace(kGoodModify, "\"AccessProtocalType\":101", "\"AccessProtocalType\":\"101\""), true,
         unmatched + "protocol_type[0]", 2, kUntouched},
        {"add, loopback address", true, Replace(kGoodAdd, "10.0.0.1", "127.0.0.1"), true, checkFailed, 0,
         ErrorCode(0, 947)},
        {"add, non-ASCII alias of 65 characters", true,
         Replace(kGoodAdd, "\"Hall\"", requesttest::Quote(requesttest::NonAsciiText(65))), true, checkFailed, 0,
         ErrorCode(0, 2)},
        {"modify, no port", false, Replace(kGoodModify, "\"LoginPort\":503,", ""), true, checkFailed, 0,
         ErrorCode(0, 2)},
        {"add, no factory serves the pair", true, kGoodAdd, false, "[iobox::ProcessLoginParam]Parse login param failed.",
         0, ErrorCode(0, 2)},
        {"modify, no factory serves the pair", false, kGoodModify, false,
         "[iobox::ProcessLoginParam]Parse login param failed.", 0, kUntouched},
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
        const auto previous = std::make_shared<dam::CModbusLoginParam>();
        std::shared_ptr<dam::CBaseLoginParam> out = previous;
        EXPECT_FALSE(Parse(handler, c.isAdd, out, c.json.empty() ? nullptr : doc.get()));
        EXPECT_EQ(out, previous);
        EXPECT_EQ(ThreadError(), c.threadError);
        EXPECT_EQ(GetLastError(), c.lastError);
        EXPECT_EQ(log.CountLine(5, c.line, kSource), 1u) << log.Dump();
        requesttest::RegisterTestFactory();
    }
}

// ---- filtering --------------------------------------------------------------------------

std::shared_ptr<dam::CDevice> MakeDevice(int id, const std::string& name, const std::string& serial = "",
                                         const std::string& searchText = "", int subCategory = 0, int category = 2005)
{
    dam::DeviceInfo info;
    info.id = id;
    info.category = category;
    info.protocol = 101;
    info.name = name;
    info.serialNumber = serial;
    info.searchText = searchText;
    info.subCategory = subCategory;
    return std::make_shared<dam::CDevice>(info);
}

std::vector<int> Ids(const std::vector<std::shared_ptr<dam::IDevice>>& devices)
{
    std::vector<int> ids;
    for (const auto& device : devices) {
        ids.push_back(device ? device->GetDeviceID() : -1);
    }
    return ids;
}

TEST_F(HandlerTest, FilterKeepsDevicesMeetingBothCriteriaOrEitherOne)
{
    auto criteria = [](const std::string& members) {
        return "{\"DevicesRequest\":{\"SearchCriteria\":{" + members + "}}}";
    };
    const struct {
        const char* name;
        std::string json; // empty: null request
        std::vector<int> kept;
    } cases[] = {
        {"null request", "", {1, 2, 3, 4, 5, 6}},
        {"no criteria", criteria(""), {1, 2, 3, 4, 5, 6}},
        {"alias in name, serial or search text, any case", criteria("\"Alias\":\"hall\""), {1, 2, 3, 5}},
        {"209 widens to 207 and 220", criteria("\"DeviceSubCategorys\":\"209\""), {1, 2, 3, 6}},
        {"207 alone does not widen", criteria("\"DeviceSubCategorys\":\"207\""), {2}},
        {"AND of alias and sub-category",
         criteria("\"Alias\":\"hall\",\"DeviceSubCategorys\":\"209\",\"LogicalOperator\":1"), {1, 2, 3}},
        {"AND with a list, and for an unknown operator",
         criteria("\"Alias\":\"hall\",\"DeviceSubCategorys\":\"100, 207\",\"LogicalOperator\":3"), {2, 5}},
        {"OR of alias and sub-category",
         criteria("\"Alias\":\"hall\",\"DeviceSubCategorys\":\"100\",\"LogicalOperator\":2"), {1, 2, 3, 4, 5}},
        {"OR keeps a widened sub-category whose alias misses",
         criteria("\"Alias\":\"zzz\",\"DeviceSubCategorys\":\"209\",\"LogicalOperator\":2"), {1, 2, 3, 6}},
        {"OR with no criteria keeps every device", criteria("\"LogicalOperator\":2"), {1, 2, 3, 4, 5, 6}},
        {"OR with nothing matching",
         criteria("\"Alias\":\"zzz\",\"DeviceSubCategorys\":\"9\",\"LogicalOperator\":2"), {}},
    };
    for (const auto& c : cases) {
        auto doc = Document(c.json.empty() ? "{}" : c.json);
        std::vector<std::shared_ptr<dam::IDevice>> devices{
            MakeDevice(1, "Hall North", "SN-001", "", 209), MakeDevice(2, "Gate", "SN-HALL-2", "", 207),
            MakeDevice(3, "Yard", "SN-003", "hall annex", 220), MakeDevice(4, "Roof", "SN-004", "", 100),
            MakeDevice(5, "HALL", "X", "", 100),           MakeDevice(6, "Office", "SN-006", "", 209),
        };
        if (c.json.empty()) {
            devices.insert(devices.begin() + 1, nullptr); // an empty entry matches nothing
        }
        unsigned int module = 11;
        unsigned int code = 12;
        EXPECT_TRUE(handler.FilterDevicesByCondition(module, code, devices, c.json.empty() ? nullptr : doc.get()))
            << c.name;
        EXPECT_EQ(Ids(devices), c.kept) << c.name;
        EXPECT_EQ(module, 11u) << c.name;
        EXPECT_EQ(code, 12u) << c.name;
    }
}

// ---- deletion ---------------------------------------------------------------------------

TEST_F(HandlerTest, DeleteRemovesIOBoxesAndStopsAtTheFirstIdThatIsNone)
{
    env.deviceManager->AddDevice(MakeDevice(5, "Box 5"));
    env.deviceManager->AddDevice(MakeDevice(7, "Box 7"));
    env.deviceManager->AddDevice(MakeDevice(3, "Camera", "", "", 0, 1000));
    unsigned int module = 11;
    unsigned int code = 12;
    EXPECT_TRUE(handler.DeleteDevice(module, code, {}, "session"));
    EXPECT_EQ(env.deviceManager->Devices().size(), 3u);

    EXPECT_FALSE(handler.DeleteDevice(module, code, {5, 6, 7}, "session"));
    EXPECT_EQ(module, 0u);
    EXPECT_EQ(code, 903u);
    EXPECT_EQ(Ids(env.deviceManager->Devices()), (std::vector<int>{7, 3}));
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

    // Another category's device of that id is no I/O box.
    module = code = 0;
    EXPECT_FALSE(handler.DeleteDevice(module, code, {3}, "session"));
    EXPECT_EQ(code, 903u);
    EXPECT_EQ(env.deviceManager->Devices().size(), 2u);
}

TEST_F(HandlerTest, DeleteThatTheHostRefusesOrCannotServeChangesNothing)
{
    env.deviceManager->AddDevice(MakeDevice(5, "Stuck box"));
    env.deviceManager->SetFailDelete(5, true);
    const struct {
        bool deviceManager;
        bool operationLog;
        std::string line;
    } cases[] = {
        {true, true,
         "[iobox::CModbusTesselDetach::DeleteDevice]Failed to delete alarm host of IOBox device id = 5, name = Stuck box"},
        {false, true, "[iobox::CModbusTesselDetach::DeleteDevice]Device manager ptr is null!"},
        {true, false, "[iobox::CModbusTesselDetach::DeleteDevice]Log write ptr is null!"},
    };
    for (const auto& c : cases) {
        Interfaces().SetDeviceManager(c.deviceManager ? env.deviceManager : nullptr);
        Interfaces().SetWriteOperationLog(c.operationLog ? env.operationLog : nullptr);
        testsupport::LogCapture log;
        unsigned int module = 11;
        unsigned int code = 12;
        EXPECT_FALSE(handler.DeleteDevice(module, code, {5}, "s")) << c.line;
        ASSERT_EQ(log.Lines().size(), 1u) << log.Dump();
        EXPECT_TRUE(log.HasLine(5, c.line, kSource)) << log.Dump();
        EXPECT_EQ(module, 11u);
        EXPECT_EQ(code, 12u);
        EXPECT_EQ(env.deviceManager->Devices().size(), 1u);
        EXPECT_TRUE(env.operationLog->Entries().empty());
    }
}

// ---- device information -----------------------------------------------------------------

// An I/O box as the host keeps it: common feature, Modbus login parameters, two inputs, one output.
struct IOBox {
    std::shared_ptr<dam::CDevice> device;
    std::shared_ptr<dam::CModbusLoginParam> login;
};

IOBox MakeIOBox(bool withOutputs = true)
{
    dam::DeviceInfo info;
    info.id = 42;
    info.category = 2005;
    info.protocol = 101;
    info.name = "Hall";
    info.serialNumber = "SN-42";
    info.version = "V2.1 build 7";
    info.manufacturer = 15;
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

const std::string kBaseInfoHead = R"({"ID":42,)";
const std::string kBaseInfoTail =
    R"("DeviceCategory":2005,"DeviceSubCategory":207,"AlarmHostSubCategory":209,"Manufacturer":15,)"
    R"("ProtocolTypeCategory":101,"Alias":"Hall","SerialNumber":"SN-42","LoginAddress":"10.0.0.5",)"
    R"("IPAddress":"10.0.0.5","Port":502,"UserName":"operator","Password":"","FirmwareVersion":"V2.1 build 7",)"
    R"("SoftwareVersion":"V2.1 build 7","AvailableZoneNum":2,"AvailableTriggerOutNum":)";
const std::string kInputList =
    R"({"AlarmInput":[{"ID":1001,"Guid":"in-1","No":1,"Name":"Input 1","Type":0,"Online":1,"RelatedCameraNo":5,)"
    R"("AlarmInputType":0,"AbilitySet":{"IsSupportGuard":0,"IsSupportByPass":0},)"
    R"("Area":{"AreaID":9,"AreaName":"Lobby"}},)"
    R"({"ID":1002,"Guid":"in-2","No":2,"Name":"Input 2","Type":1,"Online":0,"RelatedCameraNo":-1,)"
    R"("AlarmInputType":0,"AbilitySet":{"IsSupportGuard":0,"IsSupportByPass":0},"Area":{"AreaID":-1,"AreaName":""}}]})";

TEST_F(HandlerTest, DeviceInformationHoldsEveryKeyInOrderUnderTheTargetNode)
{
    auto box = MakeIOBox();
    env.areaManager->SetChannelArea(1001, 1003, 9, "Lobby");
    env.areaManager->SetChannelArea(2001, 1004, 10, "Plant room");
    box.device->SetOnline(true);
    box.device->SetOnlineError(ErrorCode(0, 0));
    proto::CRapidJsonProto doc;
    void* target = doc.add_object(nullptr, "Device");
    ASSERT_TRUE(handler.EncodeSingleDeviceInfo(&doc, target, box.device, "AlarmInputList,AlarmOutputList,Status",
                                               "session", 3));
    EXPECT_EQ(doc.get_str(0),
              R"({"Device":{"BaseInfo":)" + kBaseInfoHead + R"("Method":3,)" + kBaseInfoTail +
                  R"(1,"IOBox":{"AlarmInputCount":2,"AlarmOutputCount":1,"AlarmInputType":1}},"AlarmInputList":)" +
                  kInputList +
                  R"(,"AlarmOutputList":{"AlarmOutput":[{"ID":2001,"Guid":"out-1","No":1,"Type":4,"Name":"Relay 1",)"
                  R"("Online":1,"Area":{"AreaID":10,"AreaName":"Plant room"}}]},)"
                  R"("Status":{"Network":1,"IsActive":1,"PasswordStrength":3,"ErrorModule":0,"ErrorCode":0}}})");
}

TEST_F(HandlerTest, SingleDeviceInformationHasNoMethodAndAnEmptyOutputList)
{
    auto box = MakeIOBox(false);
    env.areaManager->SetChannelArea(1001, 1003, 9, "Lobby");
    proto::CRapidJsonProto doc;
    ASSERT_TRUE(handler.GetSingleDeviceInfo(&doc, nullptr, box.device, "session"));
    EXPECT_EQ(doc.get_str(0), R"({"BaseInfo":)" + kBaseInfoHead + kBaseInfoTail +
                                  R"(0,"IOBox":{"AlarmInputCount":2,"AlarmOutputCount":0,"AlarmInputType":1}},)"
                                  R"("AlarmInputList":)" + kInputList + R"(,"AlarmOutputList":{},)"
                                  R"("Status":{"Network":0,"IsActive":1,"PasswordStrength":3,"ErrorModule":0,)"
                                  R"("ErrorCode":0}})");
    // Without an area manager every channel reports no area.
    Interfaces().SetAreaManager(nullptr);
    proto::CRapidJsonProto noAreas;
    ASSERT_TRUE(handler.GetSingleDeviceInfo(&noAreas, nullptr, box.device, "session"));
    EXPECT_EQ(noAreas.get_int_v("/AlarmInputList/AlarmInput/0/Area/AreaID", 0), -1);
}

TEST_F(HandlerTest, StatusTakesTheErrorMatchingTheOnlineState)
{
    const struct {
        bool online;
        bool active;
        const char* status;
    } cases[] = {
        {true, false, R"({"Network":1,"IsActive":0,"PasswordStrength":3,"ErrorModule":1,"ErrorCode":11})"},
        {false, true, R"({"Network":0,"IsActive":1,"PasswordStrength":3,"ErrorModule":2,"ErrorCode":22})"},
    };
    for (const auto& c : cases) {
        auto box = MakeIOBox();
        box.device->SetOnline(c.online);
        box.device->SetActive(c.active);
        box.device->SetOnlineError(ErrorCode(1, 11));
        box.device->SetOfflineError(ErrorCode(2, 22));
        proto::CRapidJsonProto doc;
        ASSERT_TRUE(handler.EncodeSingleDeviceInfo(&doc, nullptr, box.device, "Status", "s", iobox::kNoMethod));
        EXPECT_EQ(doc.get_node_str(doc.get_node("/Status")), c.status);
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

TEST_F(HandlerTest, FieldListNamesThePartsInOrderExactlyAndRepeatedly)
{
    const struct {
        const char* fields;
        std::vector<std::string> written; // parts written, in order
        std::vector<std::string> members; // what the document holds after: a key written again replaces its value
    } cases[] = {
        {",Status,,Bogus", {"BaseInfo", "Status"}, {"BaseInfo", "Status"}},
        {"AlarmOutputList,AlarmInputList", {"BaseInfo", "AlarmOutputList", "AlarmInputList"},
         {"BaseInfo", "AlarmOutputList", "AlarmInputList"}},
        {"status,ALARMINPUTLIST, Status,Status ", {"BaseInfo"}, {"BaseInfo"}},
        {"AlarmInputList,Unknown,AlarmInputList", {"BaseInfo", "AlarmInputList", "AlarmInputList"},
         {"BaseInfo", "AlarmInputList"}},
    };
    auto box = MakeIOBox();
    for (const auto& c : cases) {
        RecordingProto doc;
        ASSERT_TRUE(handler.EncodeSingleDeviceInfo(&doc, nullptr, box.device, c.fields, "s", iobox::kNoMethod));
        EXPECT_EQ(doc.rootObjects, c.written) << '"' << c.fields << '"';
        EXPECT_EQ(MemberNames(doc.get_str(0)), c.members) << '"' << c.fields << "\" -> " << doc.get_str(0);
        // Each writing starts a fresh list: the channels appear once.
        const bool hasInputs = c.members.back() == "AlarmInputList";
        EXPECT_EQ(doc.get_cnt("/AlarmInputList/AlarmInput"), hasInputs ? 2 : 0) << c.fields;
    }
}

TEST_F(HandlerTest, PasswordIsNeverWrittenInPlain)
{
    const struct {
        const char* name;
        std::string stored;
        std::string session;
        bool sessionManager;
        bool result; // true with a stored password: written encrypted for the session
    } cases[] = {
        {"empty password without session manager", "", "session", false, true},
        {"encrypted for the session", "s3cret", "session", true, true},
        {"session refused", "s3cret", "", true, false},
        {"no session manager", "s3cret", "session", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Interfaces().SetUserSessionManager(c.sessionManager ? env.userSessionManager : nullptr);
        std::string direct = "previous";
        EXPECT_EQ(iobox::EncryptPassword(direct, c.stored, c.session), c.result);

        auto box = MakeIOBox();
        box.login->SetVal_password(c.stored);
        proto::CRapidJsonProto doc;
        ASSERT_TRUE(handler.EncodeSingleDeviceInfo(&doc, nullptr, box.device, "", c.session, iobox::kNoMethod));
        const std::string written = doc.get_v("/BaseInfo/Password", "<absent>");
        for (const std::string& out : {direct, written}) {
            if (c.stored.empty() || !c.result) {
                EXPECT_EQ(out, "");
            } else {
                std::string plain;
                ASSERT_TRUE(env.userSessionManager->DecryptBySession(plain, out, c.session));
                EXPECT_EQ(plain, c.stored);
            }
        }
        if (!c.stored.empty()) {
            EXPECT_EQ(doc.get_str(0).find(c.stored), std::string::npos) << doc.get_str(0);
        }
    }
}

TEST_F(HandlerTest, DevicesWithoutFeatureOrModbusParametersAreEncodedAsNothing)
{
    const std::function<void(IOBox&)> spoilers[] = {
        [](IOBox& box) {
            dam::DeviceInfo info;
            info.category = 2005;
            info.loginParam = box.login;
            box.device = std::make_shared<dam::CDevice>(info); // no common feature
        },
        [](IOBox& box) { box.device->SetDeviceLoginParam(std::make_shared<dam::CBaseLoginParam>()); },
        [](IOBox& box) { box.device->SetDeviceLoginParam(nullptr); },
    };
    for (const auto& spoil : spoilers) {
        auto box = MakeIOBox();
        spoil(box);
        proto::CRapidJsonProto doc;
        EXPECT_TRUE(handler.EncodeSingleDeviceInfo(&doc, nullptr, box.device, "Status", "s", 1));
        EXPECT_TRUE(handler.GetSingleDeviceInfo(&doc, nullptr, box.device, "s"));
        EXPECT_EQ(doc.get_str(0), "{}");
    }
    EXPECT_TRUE(handler.GetSingleDeviceInfo(nullptr, nullptr, MakeIOBox().device, "s"));
}

TEST_F(HandlerTest, DeviceInformationRefusesAnEmptyDeviceOrAnotherCategory)
{
    dam::DeviceInfo cameraInfo;
    cameraInfo.category = 1000;
    cameraInfo.deviceType = 77;
    auto camera = std::make_shared<dam::CDevice>(cameraInfo);
    for (bool single : {true, false}) {
        const std::string function = single ? "[iobox::CModbusTesselDetach::EncodeSingleDeviceInfo]"
                                            : "[iobox::CModbusTesselDetach::GetSingleDeviceInfo]";
        auto encode = [&](std::shared_ptr<dam::IDevice> device, proto::IProto& doc) {
            return single ? handler.EncodeSingleDeviceInfo(&doc, nullptr, device, "Status", "s", 1)
                          : handler.GetSingleDeviceInfo(&doc, nullptr, device, "s");
        };
        iobox::platform::SetThreadErrorValue(0);
        testsupport::LogCapture log;
        proto::CRapidJsonProto doc;
        EXPECT_FALSE(encode(nullptr, doc));
        EXPECT_TRUE(log.HasLine(5, function + "Device point is null!", kSource)) << log.Dump();
        EXPECT_EQ(ThreadError(), 0u);

        EXPECT_FALSE(encode(camera, doc));
        EXPECT_TRUE(log.HasLine(5, function + "Not support device type!, device_type[77]", kSource)) << log.Dump();
        EXPECT_EQ(log.Lines().size(), 2u) << log.Dump();
        EXPECT_EQ(ThreadError(), 2u);
        EXPECT_EQ(doc.get_str(0), "{}");
    }
}

} // namespace
