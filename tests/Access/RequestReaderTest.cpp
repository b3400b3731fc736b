// The request readers and the checking helpers of the common-helper file.
#include <gtest/gtest.h>

#include "Access/CommonHelper/CommonHelper.h"
#include "Marl/Base/Error.h"
#include "RequestTestSupport.h"
#include "support/LogCapture.h"

using Marl::Base::Error::ErrorCode;
using Marl::Base::Error::GetLastError;
using Marl::Base::Error::SetLastError;
using requesttest::Document;
using requesttest::Fields;
using requesttest::NonAsciiText;
using requesttest::Quote;

namespace {

const ErrorCode kUntouched(7, 7);

TEST(SplitToUInts, SkipsEmptyPiecesAndReadsEachPieceAsAFormattedStreamWould)
{
    const struct {
        const char* text;
        std::vector<unsigned int> expected;
    } cases[] = {
        {"", {}},
        {",,1,,2,", {1, 2}},
        {" 7,\t\n 8,3 4", {7, 8, 3}},
        {"12abc,abc,- 1", {12, 0, 0}},
        {"-1,-0,+5", {4294967295u, 0, 5}},
        {"4294967295,4294967296,-99999999999999999999", {4294967295u, 4294967295u, 4294967295u}},
        {"0x1F,007", {0, 7}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(iobox::SplitToUInts(c.text, ','), c.expected) << '"' << c.text << '"';
    }
}

// Strings only: nothing is resolved or contacted.
TEST(IsValidIpAddress, AcceptsUnicastClassABCHostAddressesOnly)
{
    const struct {
        const char* address;
        bool valid;
    } cases[] = {
        {"10.0.0.1", true},        {"1.0.0.1", true},        {"126.255.255.254", true}, {"128.0.0.1", true},
        {"223.255.255.254", true}, {" 1..2.3.4", true},      {"127.0.0.1", false},      {"0.1.2.3", false},
        {"224.0.0.1", false},      {"192.168.1.0", false},   {"192.168.1.255", false},  {"1.2.3", false},
        {"1.2.3.4.5", false},      {"10.0.0.256", false},    {"-1.0.0.1", false},       {"", false},
        {"iobox.example", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(iobox::IsValidIpAddress(c.address), c.valid) << '"' << c.address << '"';
    }
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

// The values as an add request (isAdd) or as a modify request.
std::string RequestJson(bool isAdd, const RequestValues& v)
{
    std::string box = "{";
    Member(box, "AlarmInputCount", v.inputs);
    Member(box, "AlarmOutputCount", v.outputs);
    Member(box, "AlarmInputType", v.inputType);
    box += "}";
    std::string device = "{";
    if (isAdd) {
        std::string byAddress = "{";
        Member(byAddress, "Address", v.address);
        Member(byAddress, "Port", v.port);
        Member(byAddress, "IOBox", box);
        Member(device, "Manufacturer", v.manufacturer);
        Member(device, "Alias", v.alias);
        Member(device, "ByOffline", v.offline);
        Member(device, "SubType", v.subType);
        Member(device, "AddByAddress", byAddress + "}");
        return R"({"AddDevicesRequest":{"DeviceType":2005,"DeviceProtocol":101,"SingleDevice":)" + device + "}}}";
    }
    std::string base = "{";
    Member(base, "Alias", v.alias);
    Member(base, "LoginAddress", v.address);
    Member(base, "LoginPort", v.port);
    Member(base, "IOBox", box);
    // Where an add request keeps the offline flag and sub-category: the modify reader ignores them.
    device += R"("DeviceCategory":2005,"AccessProtocalType":101)";
    Member(device, "CompanyType", v.manufacturer);
    Member(device, "ByOffline", v.offline);
    Member(device, "SubType", v.subType);
    Member(device, "BaseInfo", base + "}");
    return R"({"SingleDevicePutRequest":)" + device + "}}";
}

// Reads the request with the reader of its kind.
bool Read(bool isAdd, unsigned int category, unsigned int protocol, proto::IProto* request,
          std::shared_ptr<dam::CBaseLoginParam>* out = nullptr, const std::string& session = "s")
{
    iobox::AddDeviceRequestInfo add(category, protocol);
    iobox::ModifyDeviceRequestInfo modify(category, protocol);
    iobox::DeviceRequestInfo& reader = isAdd ? static_cast<iobox::DeviceRequestInfo&>(add) : modify;
    const bool ok = reader.Read(request) && reader.Decrypt(session) && reader.Check();
    if (out != nullptr) {
        *out = reader.login_param;
    }
    return ok;
}

class RequestReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        requesttest::RegisterTestFactory();
        SetLastError(kUntouched);
    }
    void TearDown() override { dam::LoginParamCreation::Clear(); }
};

// Values of the wrong type read as defaults; numbers are not range-checked.
TEST_F(RequestReaderTest, EveryFieldComesFromItsPath)
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
        {"strings where numbers are expected", {"\"15\"", hall, "\"1\"", "\"1\"", ip, "1", "\"8\"", "\"4\"", "\"1\""},
         {0, "Hall", false, 0, "10.0.0.1", 1, 0, 0, 0}},
        {"objects, arrays, booleans and null", {"{}", hall, "true", "[]", ip, "1", "null", "[]", "false"},
         {0, "Hall", false, 0, "10.0.0.1", 1, 0, 0, 0}},
        {"negative values; the port's sign wraps", {"-1", hall, "-1", "-1", ip, "-1", "-3", "-4", "-5"},
         {-1, "Hall", false, 0, "10.0.0.1", 4294967295u, -3, -4, -5}},
        {"large values pass; above INT_MAX wraps", {"2147483647", hall, "", "", ip, "4294967295", "4294967295",
                                                    "1000000", "99"},
         {2147483647, "Hall", false, 0, "10.0.0.1", 4294967295u, -1, 1000000, 99}},
        {"beyond 32 bits reads the default", {"8589934592", hall, "", "", ip, "70000", "-2147483649"},
         {0, "Hall", false, 0, "10.0.0.1", 70000, 0, 0, 0}},
    };
    for (const auto& c : cases) {
        for (bool isAdd : {true, false}) {
            SCOPED_TRACE(std::string(isAdd ? "add: " : "modify: ") + c.name);
            std::shared_ptr<dam::CBaseLoginParam> param;
            ASSERT_TRUE(Read(isAdd, 2005, 101, Document(RequestJson(isAdd, c.values)).get(), &param));
            requesttest::ExpectLoginFields(*param, c.expected, !isAdd);
            EXPECT_EQ(GetLastError(), kUntouched);
        }
    }
}

// Only the add reader records an error when it cannot read.
TEST_F(RequestReaderTest, ReadRefusesWhatItCannotFill)
{
    const char* const createFailed =
        "[%s]Create login param failed, device type: %d, protocol type: %d, device name: %s[%s(%d)]";
    const struct {
        bool isAdd;
        unsigned int category;
        bool nullDocument;
        const char* line; // null: nothing logged
    } cases[] = {
        {true, 0xFFFFFFFFu, false,
         "[iobox::AddDeviceRequestInfo::Read]Create login param failed, device type: -1, protocol type: 101, "
         "device name: Hall"},
        {false, 9999, false,
         "[iobox::ModifyDeviceRequestInfo::Read]Create login param failed, device type: 9999, protocol type: 101, "
         "device name: Hall"},
        {true, 2004, false, nullptr}, // Modbus protocol without Modbus parameters
        {false, 2004, false, nullptr},
        {true, 2005, true, nullptr},
        {false, 2005, true, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.isAdd) + "/" + std::to_string(c.category) + "/" + std::to_string(c.nullDocument));
        SetLastError(kUntouched);
        testsupport::LogCapture log;
        auto doc = Document(RequestJson(c.isAdd, {"1", "\"Hall\"", "", "", "\"10.0.0.1\"", "502"}));
        EXPECT_FALSE(Read(c.isAdd, c.category, 101, c.nullDocument ? nullptr : doc.get()));
        EXPECT_EQ(GetLastError(), c.isAdd ? ErrorCode(0, 2) : kUntouched);
        EXPECT_EQ(log.CountFormat(createFailed), c.line != nullptr ? 1u : 0u) << log.Dump();
        EXPECT_EQ(log.Lines().size(), log.CountFormat(createFailed)) << log.Dump();
        if (c.line != nullptr) {
            EXPECT_TRUE(log.HasLine(5, c.line, "src/Access/CommonHelper/CommonHelper.cpp")) << log.Dump();
        }
    }
}

TEST_F(RequestReaderTest, CheckValidatesAddressAliasAndPort)
{
    const struct {
        const char* name;
        std::string alias;
        std::string address;
        std::string port; // JSON value, empty: absent
        int errorCode;    // 0: valid
    } cases[] = {
        {"64 ASCII characters", std::string(64, 'a'), "172.16.5.4", "502", 0},
        {"64 two-byte characters", NonAsciiText(64), "192.168.1.10", "1", 0},
        {"65 ASCII characters", std::string(65, 'a'), "10.0.0.1", "502", 2},
        {"65 two-byte characters", NonAsciiText(65), "10.0.0.1", "502", 2},
        {"empty alias", "", "10.0.0.1", "502", 2},
        {"illegal character", "Hall:1", "10.0.0.1", "502", 2},
        {"malformed UTF-8", "Hall\xC3", "10.0.0.1", "502", 2},
        {"port zero", "Hall", "10.0.0.1", "0", 2},
        {"port absent", "Hall", "10.0.0.1", "", 2},
        {"port as text", "Hall", "10.0.0.1", "\"502\"", 2},
        {"loopback address", "Hall", "127.0.0.1", "502", 947},
        {"address is checked first", "", "0.1.2.3", "0", 947},
    };
    for (const auto& c : cases) {
        for (bool isAdd : {true, false}) {
            SCOPED_TRACE(std::string(isAdd ? "add: " : "modify: ") + c.name);
            SetLastError(kUntouched);
            const RequestValues values{"", Quote(c.alias), "", "", Quote(c.address), c.port};
            EXPECT_EQ(Read(isAdd, 2005, 101, Document(RequestJson(isAdd, values)).get()), c.errorCode == 0);
            EXPECT_EQ(GetLastError(), c.errorCode == 0 ? kUntouched : ErrorCode(0, c.errorCode));
        }
    }
}

// Decrypt and Check only hold Modbus parameters to account; another protocol passes unchecked.
TEST_F(RequestReaderTest, DecryptAndCheckOfParametersThatAreNotModbus)
{
    const struct {
        unsigned int protocol;
        std::shared_ptr<dam::CBaseLoginParam> param;
        bool decrypted;
        int checkError; // 0: passes
    } cases[] = {
        {101, std::make_shared<dam::CBaseLoginParam>(), false, 947}, // no address to check
        {101, nullptr, false, 2},
        {100, std::make_shared<dam::CBaseLoginParam>(), true, 0},
        {100, nullptr, true, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.protocol) + (c.param ? " with parameters" : " without"));
        iobox::AddDeviceRequestInfo reader(2005, c.protocol);
        reader.login_param = c.param;
        SetLastError(kUntouched);
        EXPECT_EQ(reader.Decrypt(""), c.decrypted);
        EXPECT_EQ(GetLastError(), c.decrypted ? kUntouched : ErrorCode(0, 2));
        SetLastError(kUntouched);
        EXPECT_EQ(reader.Check(), c.checkError == 0);
        EXPECT_EQ(GetLastError(), c.checkError == 0 ? kUntouched : ErrorCode(0, c.checkError));
        EXPECT_EQ(reader.login_param, c.param);
    }
}

} // namespace
