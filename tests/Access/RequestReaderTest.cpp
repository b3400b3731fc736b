// The readers and checks behind the request handler.
#include <gtest/gtest.h>

#include "Access/CommonHelper/CommonHelper.h"
#include "Marl/Base/Error.h"
#include "dam/LoginParamCreation.h"
#include "proto/RapidJsonProto.h"
#include "support/LogCapture.h"

using Marl::Base::Error::ErrorCode;
using Marl::Base::Error::GetLastError;
using Marl::Base::Error::SetLastError;

namespace {

const ErrorCode kUntouched(7, 7);

// Strings only: nothing is resolved or contacted. The parts are read as a formatted stream
// reads an unsigned number: leading blanks skipped, empty parts dropped, a sign wraps.
TEST(IsValidIpAddress, AcceptsUnicastClassABCHostAddressesOnly)
{
    const struct {
        const char* address;
        bool valid;
    } cases[] = {
        {"10.0.0.1", true},        {"1.0.0.1", true},         {"126.255.255.254", true}, {"128.0.0.1", true},
        {"223.255.255.254", true}, {" 1..2.3.4", true},       {"127.0.0.1", false},      {"0.1.2.3", false},
        {"224.0.0.1", false},      {"192.168.1.0", false},    {"192.168.1.255", false},  {"1.2.3", false},
        {"1.2.3.4.5", false},      {"10.0.0.256", false},     {"-1.0.0.1", false},       {"", false},
        {"iobox.example", false},  {"10.0.0.4294967297", false}, // saturates instead of wrapping to .1
    };
    for (const auto& c : cases) {
        EXPECT_EQ(iobox::IsValidIpAddress(c.address), c.valid) << '"' << c.address << '"';
    }
}

// Serves 2004/101 with parameters of the wrong class: common ones, not Modbus ones.
class WrongClassFactory : public dam::IExtendLoginParamFactory {
public:
    std::shared_ptr<dam::CBaseLoginParam> CreateLoginParam(unsigned int category, unsigned int protocol) override
    {
        return category == 2004 && protocol == 101 ? std::make_shared<dam::CBaseLoginParam>() : nullptr;
    }
};

class RequestReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dam::LoginParamCreation::Clear();
        dam::LoginParamCreation::RegisterExtendLoginParamFactory(std::make_shared<WrongClassFactory>());
        SetLastError(kUntouched);
    }
    void TearDown() override { dam::LoginParamCreation::Clear(); }
};

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
        proto::CRapidJsonProto doc;
        ASSERT_TRUE(doc.set_str(c.isAdd ? R"({"AddDevicesRequest":{"SingleDevice":{"Alias":"Hall"}}})"
                                        : R"({"SingleDevicePutRequest":{"BaseInfo":{"Alias":"Hall"}}})"));
        iobox::AddDeviceRequestInfo add(c.category, 101);
        iobox::ModifyDeviceRequestInfo modify(c.category, 101);
        iobox::DeviceRequestInfo& reader = c.isAdd ? static_cast<iobox::DeviceRequestInfo&>(add) : modify;
        EXPECT_FALSE(reader.Read(c.nullDocument ? nullptr : &doc));
        EXPECT_EQ(GetLastError(), c.isAdd ? ErrorCode(0, 2) : kUntouched);
        EXPECT_EQ(log.Lines().size(), c.line != nullptr ? 1u : 0u) << log.Dump();
        if (c.line != nullptr) {
            EXPECT_EQ(log.Lines()[0].format, createFailed);
            EXPECT_TRUE(log.HasLine(5, c.line, "src/Access/CommonHelper/CommonHelper.cpp")) << log.Dump();
        }
    }
}

} // namespace
