#include "Access/CommonHelper/CommonHelper.h"

#include <cstdint>
#include <limits>

#include "Common/Error.h"
#include "Common/Log.h"
#include "Communication/DeviceCommManager.h"
#include "Marl/Base/StringUtil.h"
#include "dam/LoginParamCreation.h"

namespace iobox {

namespace {

constexpr unsigned int kNoLengthLimit = std::numeric_limits<unsigned int>::max();
constexpr unsigned int kAliasLengthLimit = 64;

// The text's length as the host counts it for the UTF-8 code page. The host names STR_TYPE and
// the value, not the namespace that holds the type: both are searched.
int HostUtf8Length(const std::string& text)
{
    using namespace Marl::Base;
    using namespace Marl::Base::StringUtil;
    return str_len(text, static_cast<STR_TYPE>(kStringTypeUtf8));
}

// White space as the classic locale's formatted input skips it.
bool IsStreamSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// One piece read as `stream >> unsigned` reads it, without the stream and its locale.
unsigned int ReadUnsignedLikeStream(const std::string& piece)
{
    constexpr uint64_t kMax = std::numeric_limits<unsigned int>::max();
    std::size_t i = 0;
    while (i < piece.size() && IsStreamSpace(piece[i])) {
        ++i;
    }
    bool negative = false;
    if (i < piece.size() && (piece[i] == '+' || piece[i] == '-')) {
        negative = piece[i] == '-';
        ++i;
    }
    uint64_t magnitude = 0;
    bool anyDigit = false;
    bool overflow = false;
    for (; i < piece.size() && piece[i] >= '0' && piece[i] <= '9'; ++i) {
        anyDigit = true;
        if (!overflow) {
            magnitude = magnitude * 10 + static_cast<uint64_t>(piece[i] - '0');
            overflow = magnitude > kMax;
        }
    }
    if (!anyDigit) {
        return 0;
    }
    if (overflow) {
        return static_cast<unsigned int>(kMax);
    }
    const auto value = static_cast<unsigned int>(magnitude);
    return negative ? 0u - value : value;
}

bool InRange(unsigned int value, unsigned int low, unsigned int high) { return value >= low && value <= high; }

// Where the add and the modify request keep their values, and how their readers differ.
struct RequestLayout {
    const char* function;
    const char* companyType;
    const char* alias;
    const char* offline;     // null: the request carries no offline flag
    const char* subCategory; // null: the request carries no sub-category
    const char* address;
    const char* port;
    const char* inputCount;
    const char* outputCount;
    const char* inputType;
    bool recordsErrors;
};

const RequestLayout kAddLayout = {
    "iobox::AddDeviceRequestInfo::Read",
    "/AddDevicesRequest/SingleDevice/Manufacturer",
    "/AddDevicesRequest/SingleDevice/Alias",
    "/AddDevicesRequest/SingleDevice/ByOffline",
    "/AddDevicesRequest/SingleDevice/SubType",
    "/AddDevicesRequest/SingleDevice/AddByAddress/Address",
    "/AddDevicesRequest/SingleDevice/AddByAddress/Port",
    "/AddDevicesRequest/SingleDevice/AddByAddress/IOBox/AlarmInputCount",
    "/AddDevicesRequest/SingleDevice/AddByAddress/IOBox/AlarmOutputCount",
    "/AddDevicesRequest/SingleDevice/AddByAddress/IOBox/AlarmInputType",
    true,
};

const RequestLayout kModifyLayout = {
    "iobox::ModifyDeviceRequestInfo::Read",
    "/SingleDevicePutRequest/CompanyType",
    "/SingleDevicePutRequest/BaseInfo/Alias",
    nullptr,
    nullptr,
    "/SingleDevicePutRequest/BaseInfo/LoginAddress",
    "/SingleDevicePutRequest/BaseInfo/LoginPort",
    "/SingleDevicePutRequest/BaseInfo/IOBox/AlarmInputCount",
    "/SingleDevicePutRequest/BaseInfo/IOBox/AlarmOutputCount",
    "/SingleDevicePutRequest/BaseInfo/IOBox/AlarmInputType",
    false,
};

void RecordUnusable(const RequestLayout& layout)
{
    if (layout.recordsErrors) {
        SetError(kErrorRequestUnusable);
    }
}

bool ReadRequest(DeviceRequestInfo& info, proto::IProto* request, const RequestLayout& layout)
{
    if (request == nullptr) {
        RecordUnusable(layout);
        return false;
    }
    info.login_param = dam::LoginParamCreation::CreateLoginParam(info.device_type, info.protocol_type);

    const int companyType = request->get_int_v(layout.companyType, 0);
    const std::string alias = request->get_v(layout.alias, "");
    const int offline = layout.offline != nullptr ? request->get_int_v(layout.offline, 0) : 0;
    const int subCategory = layout.subCategory != nullptr ? request->get_int_v(layout.subCategory, 0) : 0;

    if (!info.login_param) {
        IOBOX_LOG(5, layout.function,
                  "Create login param failed, device type: %d, protocol type: %d, device name: %s",
                  static_cast<int>(info.device_type), static_cast<int>(info.protocol_type), alias.c_str());
        RecordUnusable(layout);
        return false;
    }

    dam::CBaseLoginParam& common = *info.login_param;
    common.SetVal_access_protocol(static_cast<int>(info.protocol_type));
    common.SetVal_company_type(companyType);
    common.SetVal_str_alias(alias);
    if (layout.offline != nullptr) {
        common.SetVal_b_offline(offline == 1);
    }
    if (layout.subCategory != nullptr) {
        common.SetSubCategory(subCategory == 1 ? 1 : 0);
    }

    if (info.protocol_type != kAccessProtocolModbus) {
        return true;
    }
    auto modbus = std::dynamic_pointer_cast<dam::CModbusLoginParam>(info.login_param);
    if (!modbus) {
        RecordUnusable(layout);
        return false;
    }
    modbus->SetVal_login_address(request->get_v(layout.address, ""));
    modbus->SetVal_login_port(static_cast<unsigned int>(request->get_int_v(layout.port, 0)));
    modbus->SetVal_input_num(request->get_int_v(layout.inputCount, 0));
    modbus->SetVal_output_num(request->get_int_v(layout.outputCount, 0));
    modbus->SetVal_input_type(request->get_int_v(layout.inputType, 0));
    return true;
}

} // namespace

bool IsValidIpAddress(const std::string& address)
{
    const std::vector<unsigned int> parts = SplitToUInts(address, '.');
    if (parts.size() != 4) {
        return false;
    }
    for (unsigned int part : parts) {
        if (part > 255) {
            return false;
        }
    }
    // Class A without loopback, or class B and C; multicast and reserved ranges are no devices.
    if (!InRange(parts[0], 1, 126) && !InRange(parts[0], 128, 223)) {
        return false;
    }
    // Neither the network nor the broadcast address.
    return InRange(parts[3], 1, 254);
}

bool CheckStringValid(const std::string& text, unsigned int limit, bool refuseIllegal)
{
    if (text.empty()) {
        return false;
    }
    if (limit != kNoLengthLimit &&
        HostUtf8Length(text) > static_cast<int>(limit)) {
        return false;
    }
    return !(refuseIllegal && Marl::Base::StringUtil::ContainsIllegalCharacters(text));
}

std::vector<std::string> SplitNonEmpty(const std::string& text, char separator)
{
    std::vector<std::string> pieces;
    std::size_t begin = 0;
    while (begin <= text.size()) {
        std::size_t end = text.find(separator, begin);
        if (end == std::string::npos) {
            end = text.size();
        }
        if (end > begin) {
            pieces.push_back(text.substr(begin, end - begin));
        }
        begin = end + 1;
    }
    return pieces;
}

std::vector<unsigned int> SplitToUInts(const std::string& text, char separator)
{
    std::vector<unsigned int> values;
    for (const std::string& piece : SplitNonEmpty(text, separator)) {
        values.push_back(ReadUnsignedLikeStream(piece));
    }
    return values;
}

DeviceRequestInfo::~DeviceRequestInfo() = default;

bool DeviceRequestInfo::Decrypt(const std::string& /*userSession*/)
{
    if (protocol_type != kAccessProtocolModbus) {
        return true;
    }
    if (!std::dynamic_pointer_cast<dam::CModbusLoginParam>(login_param)) {
        SetError(kErrorRequestUnusable);
        return false;
    }
    return true;
}

bool DeviceRequestInfo::Check()
{
    if (protocol_type != kAccessProtocolModbus) {
        return true;
    }
    if (!login_param) {
        SetError(kErrorRequestUnusable);
        return false;
    }
    if (!IsValidIpAddress(login_param->GetVal_login_address())) {
        SetError(kErrorInvalidAddress);
        return false;
    }
    if (!CheckStringValid(login_param->GetVal_str_alias(), kAliasLengthLimit, true) ||
        login_param->GetVal_login_port() == 0) {
        SetError(kErrorRequestUnusable);
        return false;
    }
    return true;
}

bool AddDeviceRequestInfo::Read(proto::IProto* request) { return ReadRequest(*this, request, kAddLayout); }

bool ModifyDeviceRequestInfo::Read(proto::IProto* request) { return ReadRequest(*this, request, kModifyLayout); }

std::shared_ptr<dam::CCommonFeature> CCommonHelper::GetCommonFeature(std::shared_ptr<dam::IDevice> device)
{
    if (!device) {
        return nullptr;
    }
    return std::dynamic_pointer_cast<dam::CCommonFeature>(device->GetFeature(kFeatureTypeCommon));
}

bool CCommonHelper::GetCommPtr(std::shared_ptr<CSPDeviceCommProxy>& proxy, std::shared_ptr<dam::IDevice> device)
{
    if (CDeviceCommManager::Instance()->GetDeviceCommByDevice(proxy, device) && proxy) {
        return true;
    }
    // Without a device there is no protocol to name; -1 says so.
    IOBOX_LOG(5, "iobox::CCommonHelper::GetCommPtr", "GetDeviceCommByDevice of protocal type = %d failed!",
              device ? device->GetAccessProtocol() : -1);
    return false;
}

} // namespace iobox
