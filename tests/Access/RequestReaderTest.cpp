// The request readers and the checking helpers of the common-helper file.
#include <gtest/gtest.h>

#include <climits>
#include <locale>
#include <sstream>

#include "Access/CommonHelper/CommonHelper.h"
#include "Marl/Base/Error.h"
#include "RequestTestSupport.h"
#include "support/LogCapture.h"

using Marl::Base::Error::ErrorCode;
using Marl::Base::Error::GetLastError;
using Marl::Base::Error::SetLastError;
using requesttest::Document;
using requesttest::ExpectLoginFields;
using requesttest::Fields;
using requesttest::NonAsciiText;
using requesttest::Quote;

namespace {

const ErrorCode kUntouched(7, 7);
const char* const kCreateFailedFormat =
    "[%s]Create login param failed, device type: %d, protocol type: %d, device name: %s[%s(%d)]";
const char* const kSource = "src/Access/CommonHelper/CommonHelper.cpp";

// ---- SplitToUInts ----------------------------------------------------------------------

struct SplitCase {
    const char* text;
    char separator;
    std::vector<unsigned int> expected;
};

TEST(SplitToUIntsTest, CutsSkipsEmptyPiecesAndReadsEachPieceAsAStreamWould)
{
    const SplitCase cases[] = {
        {"", ',', {}},
        {",,,", ',', {}},
        {"1,2,3", ',', {1, 2, 3}},
        {",,1,,2,", ',', {1, 2}},
        {"1..2.3.4", '.', {1, 2, 3, 4}},
        {" 7,\t\n 8", ',', {7, 8}},
        {"12abc,abc", ',', {12, 0}},
        {" ,x", ',', {0, 0}},
        {"-1", ',', {4294967295u}},
        {"-0,+5", ',', {0, 5}},
        {"-4294967295", ',', {1}},
        {"4294967295", ',', {4294967295u}},
        {"4294967296,99999999999999999999999", ',', {4294967295u, 4294967295u}},
        {"-99999999999999999999", ',', {4294967295u}},
        {"0x1F,007", ',', {0, 7}},
        {"- 1,--1,+-1", ',', {0, 0, 0}},
        {"3 4", ',', {3}},
        {"209;207", ';', {209, 207}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(iobox::SplitToUInts(c.text, c.separator), c.expected) << '"' << c.text << '"';
    }
}

// The stream itself is the reference for how one piece reads.
TEST(SplitToUIntsTest, EveryPieceReadsLikeTheClassicFormattedStream)
{
    const char* const pieces[] = {"0",     "17",          " 17",        "\t\v\f\r17x", "+17",       "-17",
                                  "-",     "+",           "x17",        "1e5",         "17.5",      "4294967295",
                                  "4294967296", "-4294967295", "-4294967296", "000000000000000000042", "- 3"};
    for (const char* piece : pieces) {
        std::istringstream stream(piece);
        stream.imbue(std::locale::classic());
        unsigned int expected = 12345;
        stream >> expected;
        const std::vector<unsigned int> got = iobox::SplitToUInts(piece, ',');
        ASSERT_EQ(got.size(), 1u) << '"' << piece << '"';
        EXPECT_EQ(got[0], expected) << '"' << piece << '"';
    }
}

// ---- IsValidIpAddress: strings only, nothing is resolved or contacted ------------------

struct AddressCase {
    const char* address;
    bool valid;
};

TEST(IsValidIpAddressTest, AcceptsUnicastClassABCHostAddressesOnly)
{
    const AddressCase cases[] = {
        {"10.0.0.1", true},        {"172.16.5.4", true},       {"192.168.1.10", true},
        {"1..2.3.4", true},        {"1.0.0.1", true},          {"126.255.255.254", true},
        {"128.0.0.1", true},       {"223.255.255.254", true},  {" 10.0.0.1", true},
        {"127.0.0.1", false},      {"0.1.2.3", false},         {"224.0.0.1", false},
        {"255.255.255.255", false}, {"192.168.1.0", false},    {"192.168.1.255", false},
        {"1.2.3", false},          {"256.1.1.1", false},       {"1.2.3.4.5", false},
        {"10.0.0.300", false},     {"10.300.0.1", false},      {"-1.0.0.1", false},
        {"10.0.0.-1", false},      {"", false},                {"....", false},
        {"iobox.example", false},  {"a.b.c.d", false},         {"localhost", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(iobox::IsValidIpAddress(c.address), c.valid) << '"' << c.address << '"';
    }
}

// ---- CheckStringValid ----------------------------------------------------------------

struct StringCase {
    const char* name;
    std::string text;
    unsigned int limit;
    bool refuseIllegal;
    bool valid;
};

TEST(CheckStringValidTest, EmptyLengthAndIllegalCharacters)
{
    const StringCase cases[] = {
        {"empty", "", 64, true, false},
        {"empty without limit", "", UINT_MAX, false, false},
        {"64 ASCII", std::string(64, 'a'), 64, true, true},
        {"65 ASCII", std::string(65, 'a'), 64, true, false},
        {"64 two-byte characters", NonAsciiText(64), 64, true, true},
        {"65 two-byte characters", NonAsciiText(65), 64, true, false},
        {"no limit", std::string(5000, 'a'), UINT_MAX, true, true},
        {"limit 0", "a", 0, false, false},
        {"limit above INT_MAX compares as signed", "a", 0x80000000u, false, false},
        {"slash refused", "a/b", 64, true, false},
        {"slash allowed without flag", "a/b", 64, false, true},
        {"control character", std::string("a\x01", 2), 64, true, false},
        {"malformed UTF-8", "a\xC3", 64, true, false},
        {"malformed UTF-8 without flag", "a\xC3", 64, false, true},
        {"blank and punctuation", "Hall 1 - north (A)", 64, true, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(iobox::CheckStringValid(c.text, c.limit, c.refuseIllegal), c.valid) << c.name;
    }
}

// ---- readers ----------------------------------------------------------------------------

// The same values written once as an add request and once as a modify request.
struct RequestValues {
    std::string manufacturer = "", alias = "", offline = "", subType = "", address = "", port = "", inputs = "",
                outputs = "", inputType = "";
};

void Member(std::string& json, const char* key, const std::string& value)
{
    if (value.empty()) {
        return;
    }
    if (json.back() != '{') {
        json += ',';
    }
    json += Quote(key) + ":" + value;
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
        return "{\"AddDevicesRequest\":{\"DeviceType\":2005,\"DeviceProtocol\":101,\"SingleDevice\":" + device +
               "}}}";
    }
    std::string base = "{";
    Member(base, "Alias", v.alias);
    Member(base, "LoginAddress", v.address);
    Member(base, "LoginPort", v.port);
    Member(base, "IOBox", box);
    // Offline flag and sub-category have no place in a modify request: put them where an
    // add request keeps them to show that the modify reader ignores them.
    device += "\"DeviceCategory\":2005,\"AccessProtocalType\":101";
    Member(device, "CompanyType", v.manufacturer);
    Member(device, "ByOffline", v.offline);
    Member(device, "SubType", v.subType);
    Member(device, "BaseInfo", base + "}");
    return "{\"SingleDevicePutRequest\":" + device + "}}";
}

// One reader of each kind for the same pair.
struct Readers {
    Readers(unsigned int category, unsigned int protocol) : add(category, protocol), modify(category, protocol) {}
    iobox::DeviceRequestInfo& Get(bool isAdd)
    {
        return isAdd ? static_cast<iobox::DeviceRequestInfo&>(add) : static_cast<iobox::DeviceRequestInfo&>(modify);
    }
    iobox::AddDeviceRequestInfo add;
    iobox::ModifyDeviceRequestInfo modify;
};

const char* KindName(bool isAdd) { return isAdd ? "add" : "modify"; }

struct ReadCase {
    const char* name;
    RequestValues values;
    Fields expected;
};

const ReadCase kReadCases[] = {
    {"complete request",
     {"15", "\"Hall\"", "1", "1", "\"10.0.0.1\"", "502", "8", "4", "1"},
     {15, "Hall", true, 1, "10.0.0.1", 502, 8, 4, 1}},
    {"nothing given: defaults", {}, {0, "", false, 0, "", 0, 0, 0, 0}},
    {"offline 2 and sub-type 5 are not the flag", {"", "", "2", "5"}, {0, "", false, 0, "", 0, 0, 0, 0}},
    {"offline 0 and sub-type 0", {"", "", "0", "0"}, {0, "", false, 0, "", 0, 0, 0, 0}},
    {"strings where numbers are expected",
     {"\"15\"", "\"Hall\"", "\"1\"", "\"1\"", "\"10.0.0.1\"", "\"502\"", "\"8\"", "\"4\"", "\"1\""},
     {0, "Hall", false, 0, "10.0.0.1", 0, 0, 0, 0}},
    {"numbers where strings are expected", {"3", "12", "", "", "10", "502"}, {3, "", false, 0, "", 502, 0, 0, 0}},
    {"objects and booleans instead of values",
     {"{}", "[\"Hall\"]", "true", "{}", "{\"a\":1}", "false", "null", "[]", "{}"},
     {0, "", false, 0, "", 0, 0, 0, 0}},
    {"negative values pass through; the port's sign wraps",
     {"-1", "\"x\"", "-1", "-1", "\"1.2.3.4\"", "-1", "-3", "-4", "-5"},
     {-1, "x", false, 0, "1.2.3.4", 4294967295u, -3, -4, -5}},
    {"large values pass through unchecked",
     {"2147483647", "", "", "", "", "70000", "2147483647", "1000000", "99"},
     {2147483647, "", false, 0, "", 70000, 2147483647, 1000000, 99}},
    {"unsigned above INT_MAX wraps", {"", "", "", "", "", "4294967295", "4294967295"},
     {0, "", false, 0, "", 4294967295u, -1, 0, 0}},
    {"beyond 32 bits reads the default", {"8589934592", "", "", "", "", "8589934592", "-2147483649"},
     {0, "", false, 0, "", 0, 0, 0, 0}},
    {"non-ASCII and over-long alias is read unchanged", {"", Quote(NonAsciiText(80))},
     {0, NonAsciiText(80), false, 0, "", 0, 0, 0, 0}},
};

class RequestReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        requesttest::RegisterTestFactory();
        SetLastError(kUntouched);
    }
    void TearDown() override { dam::LoginParamCreation::Clear(); }
};

// The modify reader never sets the offline flag or the sub-category.
TEST_F(RequestReaderTest, EveryFieldComesFromItsPath)
{
    for (const auto& c : kReadCases) {
        for (bool isAdd : {true, false}) {
            const std::string name = std::string(KindName(isAdd)) + ": " + c.name;
            auto doc = Document(RequestJson(isAdd, c.values));
            Readers readers(2005, 101);
            iobox::DeviceRequestInfo& reader = readers.Get(isAdd);
            ASSERT_TRUE(reader.Read(doc.get())) << name;
            ASSERT_TRUE(reader.login_param) << name;
            EXPECT_EQ(reader.login_param->GetVal_access_protocol(), 101) << name;
            ExpectLoginFields(*reader.login_param, c.expected, !isAdd, name);
            EXPECT_EQ(GetLastError(), kUntouched) << name;
        }
    }
}

TEST_F(RequestReaderTest, EmptyDocumentReadsDefaults)
{
    auto doc = Document("{}");
    for (bool isAdd : {true, false}) {
        Readers readers(2005, 101);
        iobox::DeviceRequestInfo& reader = readers.Get(isAdd);
        ASSERT_TRUE(reader.Read(doc.get())) << KindName(isAdd);
        ExpectLoginFields(*reader.login_param, {0, "", false, 0, "", 0, 0, 0, 0}, !isAdd, KindName(isAdd));
    }
}

// A protocol other than Modbus fills the common fields only and passes Decrypt and Check
// whatever the address, alias and port.
TEST_F(RequestReaderTest, OtherProtocolSetsOnlyCommonFieldsAndPassesUnchecked)
{
    const RequestValues values{"15", "\"bad/alias\"", "1", "1", "\"127.0.0.1\"", "502", "8", "4", "1"};
    for (bool isAdd : {true, false}) {
        SCOPED_TRACE(KindName(isAdd));
        auto doc = Document(RequestJson(isAdd, values));
        Readers readers(2005, 100);
        iobox::DeviceRequestInfo& reader = readers.Get(isAdd);
        ASSERT_TRUE(reader.Read(doc.get()));
        ASSERT_TRUE(reader.login_param);
        EXPECT_EQ(dynamic_cast<dam::CModbusLoginParam*>(reader.login_param.get()), nullptr);
        const dam::CBaseLoginParam& param = *reader.login_param;
        EXPECT_EQ(param.GetVal_access_protocol(), 100);
        EXPECT_EQ(param.GetVal_company_type(), 15);
        EXPECT_EQ(param.GetVal_str_alias(), "bad/alias");
        EXPECT_EQ(param.GetVal_b_offline(), isAdd);
        EXPECT_EQ(param.GetSubCategory(), isAdd ? 1 : 0);
        EXPECT_EQ(param.GetVal_login_address(), "");
        EXPECT_EQ(param.GetVal_login_port(), 0u);
        EXPECT_TRUE(reader.Decrypt("session"));
        EXPECT_TRUE(reader.Check());
        EXPECT_EQ(GetLastError(), kUntouched);
    }
}

struct ReadFailureCase {
    const char* name;
    bool isAdd;
    unsigned int category;
    unsigned int protocol;
    bool nullDocument;
    ErrorCode expectedError;
    const char* expectedLog; // null: nothing logged
};

TEST_F(RequestReaderTest, ReadRefusesWhatItCannotFillWithTheReadersErrorCode)
{
    const ReadFailureCase cases[] = {
        {"add, pair nobody serves", true, 9999, 101, false, ErrorCode(0, 2),
         "[iobox::AddDeviceRequestInfo::Read]Create login param failed, device type: 9999, protocol type: 101, "
         "device name: Hall"},
        {"add, all-ones pair logs as signed", true, 0xFFFFFFFFu, 0xFFFFFFFFu, false, ErrorCode(0, 2),
         "[iobox::AddDeviceRequestInfo::Read]Create login param failed, device type: -1, protocol type: -1, "
         "device name: Hall"},
        {"modify, pair nobody serves", false, 9999, 101, false, kUntouched,
         "[iobox::ModifyDeviceRequestInfo::Read]Create login param failed, device type: 9999, protocol type: 101, "
         "device name: Hall"},
        {"add, Modbus protocol without Modbus parameters", true, 2004, 101, false, ErrorCode(0, 2), nullptr},
        {"modify, Modbus protocol without Modbus parameters", false, 2004, 101, false, kUntouched, nullptr},
        {"add, null document", true, 2005, 101, true, ErrorCode(0, 2), nullptr},
        {"modify, null document", false, 2005, 101, true, kUntouched, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(kUntouched);
        testsupport::LogCapture log;
        const RequestValues values{"1", "\"Hall\"", "", "", "\"10.0.0.1\"", "502"};
        auto doc = Document(RequestJson(c.isAdd, values));
        Readers readers(c.category, c.protocol);
        iobox::DeviceRequestInfo& reader = readers.Get(c.isAdd);
        EXPECT_FALSE(reader.Read(c.nullDocument ? nullptr : doc.get()));
        EXPECT_EQ(GetLastError(), c.expectedError);
        if (c.expectedLog != nullptr) {
            EXPECT_EQ(log.CountFormat(kCreateFailedFormat), 1u) << log.Dump();
            EXPECT_TRUE(log.HasLine(5, c.expectedLog, kSource)) << log.Dump();
        } else {
            EXPECT_EQ(log.Lines().size(), 0u) << log.Dump();
        }
    }
}

struct CheckCase {
    const char* name;
    std::string alias;
    std::string address;
    std::string port; // JSON value, empty: absent
    bool valid;
    int errorCode;
};

TEST_F(RequestReaderTest, CheckValidatesAddressAliasAndPort)
{
    const CheckCase cases[] = {
        {"valid", "Hall", "10.0.0.1", "502", true, 0},
        {"64 ASCII characters", std::string(64, 'a'), "172.16.5.4", "502", true, 0},
        {"64 two-byte characters", NonAsciiText(64), "192.168.1.10", "1", true, 0},
        {"wrapped port is not zero", "Hall", "10.0.0.1", "-1", true, 0},
        {"65 ASCII characters", std::string(65, 'a'), "10.0.0.1", "502", false, 2},
        {"65 two-byte characters", NonAsciiText(65), "10.0.0.1", "502", false, 2},
        {"empty alias", "", "10.0.0.1", "502", false, 2},
        {"illegal character", "Hall:1", "10.0.0.1", "502", false, 2},
        {"port zero", "Hall", "10.0.0.1", "0", false, 2},
        {"port absent", "Hall", "10.0.0.1", "", false, 2},
        {"port as text", "Hall", "10.0.0.1", "\"502\"", false, 2},
        {"loopback address", "Hall", "127.0.0.1", "502", false, 947},
        {"broadcast address", "Hall", "192.168.1.255", "502", false, 947},
        {"three parts", "Hall", "1.2.3", "502", false, 947},
        {"host name", "Hall", "iobox.example", "502", false, 947},
        {"empty address", "Hall", "", "502", false, 947},
        {"address is checked first", "", "0.1.2.3", "0", false, 947},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool isAdd : {true, false}) {
            SetLastError(kUntouched);
            const RequestValues values{"", Quote(c.alias), "", "", Quote(c.address), c.port};
            auto doc = Document(RequestJson(isAdd, values));
            Readers readers(2005, 101);
            iobox::DeviceRequestInfo& reader = readers.Get(isAdd);
            ASSERT_TRUE(reader.Read(doc.get()));
            ASSERT_TRUE(reader.Decrypt("session"));
            EXPECT_EQ(reader.Check(), c.valid) << KindName(isAdd);
            EXPECT_EQ(GetLastError(), c.valid ? kUntouched : ErrorCode(0, c.errorCode)) << KindName(isAdd);
        }
    }
}

struct DecryptCase {
    const char* name;
    unsigned int protocol;
    std::shared_ptr<dam::CBaseLoginParam> param;
    bool ok;
};

TEST_F(RequestReaderTest, DecryptOnlyConfirmsModbusParametersForModbus)
{
    const DecryptCase cases[] = {
        {"Modbus parameters", 101, std::make_shared<dam::CModbusLoginParam>(), true},
        {"common parameters under Modbus", 101, std::make_shared<dam::CBaseLoginParam>(), false},
        {"nothing read under Modbus", 101, nullptr, false},
        {"other protocol, common parameters", 100, std::make_shared<dam::CBaseLoginParam>(), true},
        {"other protocol, nothing read", 100, nullptr, true},
    };
    for (const auto& c : cases) {
        SetLastError(kUntouched);
        iobox::AddDeviceRequestInfo reader(2005, c.protocol);
        reader.login_param = c.param;
        EXPECT_EQ(reader.Decrypt(""), c.ok) << c.name;
        EXPECT_EQ(GetLastError(), c.ok ? kUntouched : ErrorCode(0, 2)) << c.name;
        EXPECT_EQ(reader.login_param, c.param) << c.name;
    }
}

TEST_F(RequestReaderTest, CheckWithoutParametersRefusesInsteadOfCrashing)
{
    iobox::ModifyDeviceRequestInfo reader(2005, 101);
    EXPECT_FALSE(reader.Check());
    EXPECT_EQ(GetLastError(), ErrorCode(0, 2));
}

// ---- CCommonHelper::GetCommonFeature ----------------------------------------------------

TEST(CommonHelperTest, GetCommonFeatureYieldsOnlyACommonFeatureOfTypeOne)
{
    auto plain = requesttest::MakeDevice({});
    EXPECT_FALSE(iobox::CCommonHelper::GetCommonFeature(nullptr));
    EXPECT_FALSE(iobox::CCommonHelper::GetCommonFeature(plain));

    auto wrongClass = requesttest::MakeDevice({});
    ASSERT_TRUE(wrongClass->AddFeature(std::make_shared<dam::CFeature>(dam::FEATURE_TYPE_COMMON, wrongClass)));
    EXPECT_FALSE(iobox::CCommonHelper::GetCommonFeature(wrongClass));

    auto otherType = requesttest::MakeDevice({});
    ASSERT_TRUE(otherType->AddFeature(std::make_shared<dam::CFeature>(2, otherType)));
    EXPECT_FALSE(iobox::CCommonHelper::GetCommonFeature(otherType));

    auto withFeature = requesttest::MakeDevice({});
    auto feature = std::make_shared<dam::CCommonFeature>(withFeature);
    ASSERT_TRUE(withFeature->AddFeature(feature));
    EXPECT_EQ(iobox::CCommonHelper::GetCommonFeature(withFeature), feature);
}

} // namespace
