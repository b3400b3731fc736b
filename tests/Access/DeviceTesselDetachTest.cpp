// The device management request handler for I/O boxes.
#include <gtest/gtest.h>

#include <tuple>

#include "Access/Driver/SPDriverInterface.h"
#include "Access/TesselDetach/DeviceTesselDetach.h"
#include "Common/Platform.h"
#include "Marl/Base/Error.h"
#include "Marl/Base/Singleton.h"
#include "dam/InterfaceManager.h"
#include "dam/LoginParamCreation.h"
#include "proto/RapidJsonProto.h"
#include "support/HostEnvironment.h"
#include "support/LogCapture.h"

using Marl::Base::Error::ErrorCode;
using Marl::Base::Error::GetLastError;
using Marl::Base::Error::SetLastError;

namespace {

const ErrorCode kUntouched(7, 7);
const char* const kSource = "src/Access/TesselDetach/DeviceTesselDetach.cpp";

dam::CIInterfaceManager& Interfaces() { return *Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance(); }
unsigned long ThreadError() { return iobox::platform::GetThreadErrorValue(); }

class HandlerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dam::LoginParamCreation::Clear();
        dam::LoginParamCreation::RegisterExtendLoginParamFactory(std::make_shared<iobox::CIOBoxLoginParamFactory>());
        SetLastError(kUntouched);
        iobox::platform::SetThreadErrorValue(0);
    }
    void TearDown() override { dam::LoginParamCreation::Clear(); }

    // Parses the text as an add (isAdd) or modify request into `out`.
    bool Parse(bool isAdd, std::shared_ptr<dam::CBaseLoginParam>& out, const std::string& json)
    {
        proto::CRapidJsonProto doc;
        EXPECT_TRUE(json.empty() || doc.set_str(json)) << json;
        proto::IProto* request = json.empty() ? nullptr : &doc;
        return isAdd ? handler.ParsePostSingleDeviceLoginParam(out, request, "session")
                     : handler.ParsePutSingleDeviceLoginParam(out, request, "session");
    }

    testsupport::HostEnvironment env;
    iobox::CModbusTesselDetach handler;
};

// ---- add and modify requests -----------------------------------------------------------

std::string Quote(const std::string& text) { return "\"" + text + "\""; }

// The text of n UTF-8 characters, each two bytes long.
std::string NonAsciiText(std::size_t characters)
{
    std::string out;
    for (std::size_t i = 0; i < characters; ++i) {
        out += "\xC3\xA9";
    }
    return out;
}

// The values of one request; each is a JSON value, empty: absent.
struct RequestValues {
    std::string manufacturer = "", alias = "", offline = "", subType = "", address = "", port = "", inputs = "",
                outputs = "", inputType = "";
};

void Member(std::string& json, const char* key, const std::string& value)
{
    if (!value.empty()) {
        json += (json.back() == '{' ? "" : ",") + Quote(key) + ":" + value;
    }
}

// The values as an add request (isAdd) or as a modify request of the given category and protocol.
std::string RequestJson(bool isAdd, const RequestValues& v, const std::string& category = "2005",
                        const std::string& protocol = "101")
{
    std::string box = "{";
    Member(box, "AlarmInputCount", v.inputs);
    Member(box, "AlarmOutputCount", v.outputs);
    Member(box, "AlarmInputType", v.inputType);
    box += "}";
    std::string device = "{";
    Member(device, isAdd ? "Manufacturer" : "CompanyType", v.manufacturer);
    // A modify request has no offline flag or sub-category: its reader ignores them where an
    // add request keeps them.
    Member(device, "ByOffline", v.offline);
    Member(device, "SubType", v.subType);
    std::string inner = "{";
    Member(inner, "Alias", isAdd ? "" : v.alias);
    Member(inner, isAdd ? "Address" : "LoginAddress", v.address);
    Member(inner, isAdd ? "Port" : "LoginPort", v.port);
    Member(inner, "IOBox", box);
    if (isAdd) {
        Member(device, "Alias", v.alias);
        Member(device, "AddByAddress", inner + "}");
        std::string request = "{";
        Member(request, "DeviceType", category);
        Member(request, "DeviceProtocol", protocol);
        Member(request, "SingleDevice", device + "}");
        return R"({"AddDevicesRequest":)" + request + "}}";
    }
    Member(device, "DeviceCategory", category);
    Member(device, "AccessProtocalType", protocol);
    Member(device, "BaseInfo", inner + "}");
    return R"({"SingleDevicePutRequest":)" + device + "}}";
}

// Login parameters a Modbus request reads into.
struct Fields {
    int companyType;
    std::string alias;
    bool offline;
    int subCategory;
    std::string address;
    unsigned int port;
    int inputs;
    int outputs;
    int inputType;
};

// Numbers are not range-checked.
TEST_F(HandlerTest, AddAndModifyRequestsFillEveryFieldFromItsPath)
{
    const std::string hall = "\"Hall\"";
    const std::string ip = "\"10.0.0.1\"";
    const struct {
        const char* name;
        RequestValues values;
        Fields expected;
    } cases[] = {
        {"complete", {"15", hall, "1", "1", ip, "502", "8", "4", "1"}, {15, "Hall", true, 1, "10.0.0.1", 502, 8, 4, 1}},
        {"offline 2 and sub-type 5 are not the flag", {"", hall, "2", "5", ip, "1"},
         {0, "Hall", false, 0, "10.0.0.1", 1, 0, 0, 0}},
        {"negative values; the port's sign wraps", {"-1", hall, "-1", "-1", ip, "-1", "-3", "-4", "-5"},
         {-1, "Hall", false, 0, "10.0.0.1", 4294967295u, -3, -4, -5}},
        {"large values pass", {"2147483647", hall, "", "", ip, "70000", "", "1000000", "99"},
         {2147483647, "Hall", false, 0, "10.0.0.1", 70000, 0, 1000000, 99}},
    };
    testsupport::LogCapture log;
    for (const auto& c : cases) {
        for (bool isAdd : {true, false}) {
            SCOPED_TRACE(std::string(isAdd ? "add: " : "modify: ") + c.name);
            std::shared_ptr<dam::CBaseLoginParam> out;
            ASSERT_TRUE(Parse(isAdd, out, RequestJson(isAdd, c.values)));
            const auto* modbus = dynamic_cast<const dam::CModbusLoginParam*>(out.get());
            ASSERT_NE(modbus, nullptr);
            const Fields& f = c.expected;
            EXPECT_EQ(modbus->GetVal_access_protocol(), 101);
            EXPECT_EQ(modbus->GetVal_company_type(), f.companyType);
            EXPECT_EQ(modbus->GetVal_str_alias(), f.alias);
            EXPECT_EQ(modbus->GetVal_b_offline(), isAdd && f.offline);
            EXPECT_EQ(modbus->GetSubCategory(), isAdd ? f.subCategory : 0);
            EXPECT_EQ(modbus->GetVal_login_address(), f.address);
            EXPECT_EQ(modbus->GetVal_login_port(), f.port);
            EXPECT_EQ(modbus->GetVal_input_num(), f.inputs);
            EXPECT_EQ(modbus->GetVal_output_num(), f.outputs);
            EXPECT_EQ(modbus->GetVal_input_type(), f.inputType);
        }
    }
    EXPECT_EQ(ThreadError(), 0u);
    EXPECT_EQ(GetLastError(), kUntouched);
    EXPECT_TRUE(log.Lines().empty()) << log.Dump();
}

// Every refusal leaves the caller's parameters as they were, with one line and the error the
// host reads: the thread error value for a request of another kind, the last error otherwise.
TEST_F(HandlerTest, RequestsAreCheckedAndRefusalsLeaveTheCallersParametersUntouched)
{
    const RequestValues valid{"", "\"Hall\"", "", "", "\"10.0.0.1\"", "502"};
    auto withAlias = [](const std::string& alias) { return RequestValues{"", alias, "", "", "\"10.0.0.1\"", "502"}; };
    auto withAddress = [](const std::string& address, const std::string& port) {
        return RequestValues{"", "\"Hall\"", "", "", address, port};
    };
    const std::string matched = "[iobox::CModbusTesselDetach::IsDeviceProtocolMatched]";
    const std::string notSupported = matched + "Not support device type!, device_type[";
    const std::string unmatched = matched + "Device type and protocol type are unmatched!, device_type[2005], ";
    const std::string checkFailed = "[iobox::ProcessLoginParam]Check login param failed.";
    const std::string parseFailed = "[iobox::ProcessLoginParam]Parse login param failed.";
    const struct {
        const char* name;
        bool isAdd;
        std::string json; // empty: null request
        std::string line;
        unsigned long threadError;
        int lastError; // 0: untouched
    } cases[] = {
        {"add, null request", true, "",
         "[iobox::CModbusTesselDetach::ParsePostSingleDeviceLoginParam]request pointer pro_req is null", 2, 0},
        {"modify, null request", false, "",
         "[iobox::CModbusTesselDetach::ParsePutSingleDeviceLoginParam]request pointer pro_req is null", 2, 0},
        {"add, empty document", true, "{}", notSupported + "-1]", 2, 0},
        {"modify, empty document", false, "{}", notSupported + "0]", 2, 0},
        {"modify, huge category", false, RequestJson(false, valid, "99999999999"), notSupported + "0]", 2, 0},
        {"add, protocol 100", true, RequestJson(true, valid, "2005", "100"), unmatched + "protocol_type[100]", 2, 0},
        {"add, no protocol", true, RequestJson(true, valid, "2005", ""), unmatched + "protocol_type[-1]", 2, 0},
        {"modify, protocol as text", false, RequestJson(false, valid, "2005", "\"101\""),
         unmatched + "protocol_type[0]", 2, 0},
        {"add, no factory serves the pair", true, "", parseFailed, 0, 2},
        {"modify, no factory serves the pair", false, "", parseFailed, 0, 0},
        // What Check refuses.
        {"64 two-byte characters pass", true, RequestJson(true, withAlias(Quote(NonAsciiText(64)))), "", 0, 0},
        {"65 two-byte characters", true, RequestJson(true, withAlias(Quote(NonAsciiText(65)))), checkFailed, 0, 2},
        {"64 ASCII characters pass", false, RequestJson(false, withAlias(Quote(std::string(64, 'a')))), "", 0, 0},
        {"65 ASCII characters", false, RequestJson(false, withAlias(Quote(std::string(65, 'a')))), checkFailed, 0, 2},
        {"empty alias", true, RequestJson(true, withAlias("\"\"")), checkFailed, 0, 2},
        {"illegal character", false, RequestJson(false, withAlias("\"Hall:1\"")), checkFailed, 0, 2},
        {"malformed UTF-8", true, RequestJson(true, withAlias("\"Hall\xC3\"")), checkFailed, 0, 2},
        {"port zero", false, RequestJson(false, withAddress("\"10.0.0.1\"", "0")), checkFailed, 0, 2},
        {"port absent", true, RequestJson(true, withAddress("\"10.0.0.1\"", "")), checkFailed, 0, 2},
        {"port as text", false, RequestJson(false, withAddress("\"10.0.0.1\"", "\"502\"")), checkFailed, 0, 2},
        {"loopback address", true, RequestJson(true, withAddress("\"127.0.0.1\"", "502")), checkFailed, 0, 947},
        {"address as number", false, RequestJson(false, withAddress("10", "502")), checkFailed, 0, 947},
        {"address is checked first", true, RequestJson(true, {"", "\"\"", "", "", "\"0.1.2.3\"", "0"}), checkFailed, 0,
         947},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(kUntouched);
        iobox::platform::SetThreadErrorValue(0);
        const bool noFactory = c.line == parseFailed;
        if (noFactory) {
            dam::LoginParamCreation::Clear();
        }
        testsupport::LogCapture log;
        const auto previous = std::make_shared<dam::CModbusLoginParam>();
        std::shared_ptr<dam::CBaseLoginParam> out = previous;
        const std::string json = noFactory ? RequestJson(c.isAdd, valid) : c.json;
        EXPECT_EQ(Parse(c.isAdd, out, json), c.line.empty());
        EXPECT_EQ(out == previous, !c.line.empty());
        EXPECT_EQ(ThreadError(), c.threadError);
        EXPECT_EQ(GetLastError(), c.lastError == 0 ? kUntouched : ErrorCode(0, c.lastError));
        EXPECT_EQ(log.Lines().size(), c.line.empty() ? 0u : 1u + (noFactory ? 1u : 0u)) << log.Dump();
        EXPECT_TRUE(c.line.empty() || log.CountLine(5, c.line, kSource) == 1u) << log.Dump();
        dam::LoginParamCreation::RegisterExtendLoginParamFactory(std::make_shared<iobox::CIOBoxLoginParamFactory>());
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
        proto::CRapidJsonProto doc;
        ASSERT_TRUE(doc.set_str(c.json.empty() ? "{}" : c.json));
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
        EXPECT_TRUE(handler.FilterDevicesByCondition(module, code, devices, c.json.empty() ? nullptr : &doc))
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
    const auto& e = entries[0];
    EXPECT_EQ(std::make_tuple(e.userSession, e.type, e.deviceId, e.deviceName, e.flag, e.value1, e.value2, e.text),
              std::make_tuple(std::string("session"), 2912u, 5u, std::string("Box 5"), false, 0, 0, std::string()));

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
    // Status takes the error that matches the online state.
    box.device->SetOnline(true);
    box.device->SetActive(false);
    box.device->SetOnlineError(ErrorCode(1, 11));
    box.device->SetOfflineError(ErrorCode(2, 22));
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
                  R"("Status":{"Network":1,"IsActive":0,"PasswordStrength":3,"ErrorModule":1,"ErrorCode":11}}})");
}

TEST_F(HandlerTest, SingleDeviceInformationHasNoMethodAndAnEmptyOutputList)
{
    auto box = MakeIOBox(false);
    env.areaManager->SetChannelArea(1001, 1003, 9, "Lobby");
    box.device->SetOnlineError(ErrorCode(1, 11));
    box.device->SetOfflineError(ErrorCode(2, 22));
    proto::CRapidJsonProto doc;
    ASSERT_TRUE(handler.GetSingleDeviceInfo(&doc, nullptr, box.device, "session"));
    EXPECT_EQ(doc.get_str(0), R"({"BaseInfo":)" + kBaseInfoHead + kBaseInfoTail +
                                  R"(0,"IOBox":{"AlarmInputCount":2,"AlarmOutputCount":0,"AlarmInputType":1}},)"
                                  R"("AlarmInputList":)" + kInputList + R"(,"AlarmOutputList":{},)"
                                  R"("Status":{"Network":0,"IsActive":1,"PasswordStrength":3,"ErrorModule":2,)"
                                  R"("ErrorCode":22}})");
    // Without an area manager every channel reports no area.
    Interfaces().SetAreaManager(nullptr);
    proto::CRapidJsonProto noAreas;
    ASSERT_TRUE(handler.GetSingleDeviceInfo(&noAreas, nullptr, box.device, "session"));
    EXPECT_EQ(noAreas.get_int_v("/AlarmInputList/AlarmInput/0/Area/AreaID", 0), -1);
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
    } cases[] = {
        {",Status,,Bogus", {"BaseInfo", "Status"}},
        {"AlarmOutputList,AlarmInputList", {"BaseInfo", "AlarmOutputList", "AlarmInputList"}},
        {"status,ALARMINPUTLIST, Status,Status ", {"BaseInfo"}},
        {"AlarmInputList,Unknown,AlarmInputList", {"BaseInfo", "AlarmInputList", "AlarmInputList"}},
    };
    auto box = MakeIOBox();
    for (const auto& c : cases) {
        RecordingProto doc;
        ASSERT_TRUE(handler.EncodeSingleDeviceInfo(&doc, nullptr, box.device, c.fields, "s", iobox::kNoMethod));
        EXPECT_EQ(doc.rootObjects, c.written) << '"' << c.fields << '"';
    }
}

TEST_F(HandlerTest, PasswordIsNeverWrittenInPlain)
{
    const struct {
        const char* name;
        std::string stored;
        std::string session;
        bool sessionManager;
        bool encrypted; // false: written as the empty text
    } cases[] = {
        {"empty password without session manager", "", "session", false, false},
        {"encrypted for the session", "s3cret", "session", true, true},
        {"session refused", "s3cret", "", true, false},
        {"no session manager", "s3cret", "session", false, false},
    };
    for (const auto& c : cases) {
        Interfaces().SetUserSessionManager(c.sessionManager ? env.userSessionManager : nullptr);
        auto box = MakeIOBox();
        box.login->SetVal_password(c.stored);
        proto::CRapidJsonProto doc;
        ASSERT_TRUE(handler.EncodeSingleDeviceInfo(&doc, nullptr, box.device, "", c.session, iobox::kNoMethod));
        const std::string written = doc.get_v("/BaseInfo/Password", "<absent>");
        std::string plain;
        if (c.encrypted) {
            ASSERT_TRUE(env.userSessionManager->DecryptBySession(plain, written, c.session)) << c.name;
        }
        EXPECT_EQ(c.encrypted ? plain : written, c.encrypted ? c.stored : "") << c.name;
        EXPECT_TRUE(c.stored.empty() || doc.get_str(0).find(c.stored) == std::string::npos) << doc.get_str(0);
    }
}

// An empty device or another category is refused; an I/O box without feature or Modbus
// parameters is described as nothing.
TEST_F(HandlerTest, DevicesItCannotDescribe)
{
    dam::DeviceInfo cameraInfo;
    cameraInfo.category = 1000;
    cameraInfo.deviceType = 77;
    dam::DeviceInfo bareInfo;
    bareInfo.category = 2005;
    auto basicParams = MakeIOBox().device;
    basicParams->SetDeviceLoginParam(std::make_shared<dam::CBaseLoginParam>());
    auto noParams = MakeIOBox().device;
    noParams->SetDeviceLoginParam(nullptr);
    const struct {
        std::shared_ptr<dam::IDevice> device;
        std::string line; // empty: accepted, nothing logged
        unsigned long threadError;
    } cases[] = {
        {nullptr, "Device point is null!", 0},
        {std::make_shared<dam::CDevice>(cameraInfo), "Not support device type!, device_type[77]", 2},
        {std::make_shared<dam::CDevice>(bareInfo), "", 0},
        {basicParams, "", 0},
        {noParams, "", 0},
    };
    for (const auto& c : cases) {
        for (bool single : {true, false}) {
            SCOPED_TRACE(c.line + (single ? " (single)" : " (list)"));
            iobox::platform::SetThreadErrorValue(0);
            testsupport::LogCapture log;
            proto::CRapidJsonProto doc;
            EXPECT_EQ(single ? handler.EncodeSingleDeviceInfo(&doc, nullptr, c.device, "Status", "s", 1)
                             : handler.GetSingleDeviceInfo(&doc, nullptr, c.device, "s"),
                      c.line.empty());
            EXPECT_EQ(doc.get_str(0), "{}");
            EXPECT_EQ(ThreadError(), c.threadError);
            ASSERT_EQ(log.Lines().size(), c.line.empty() ? 0u : 1u) << log.Dump();
            if (!c.line.empty()) {
                const std::string function = single ? "EncodeSingleDeviceInfo]" : "GetSingleDeviceInfo]";
                EXPECT_TRUE(log.HasLine(5, "[iobox::CModbusTesselDetach::" + function + c.line, kSource)) << log.Dump();
            }
        }
    }
    EXPECT_TRUE(handler.GetSingleDeviceInfo(nullptr, nullptr, MakeIOBox().device, "s"));
}

} // namespace
