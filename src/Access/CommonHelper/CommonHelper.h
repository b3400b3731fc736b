#pragma once
// Reading and validating the host's add and modify requests, and small helpers that the
// strategy, the request handler and the operations share.
#include <memory>
#include <string>
#include <vector>

#include "Common/Constants.h"
#include "dam/Device.h"
#include "dam/Feature.h"
#include "dam/LoginParam.h"
#include "proto/IProto.h"

namespace iobox {

class CSPDeviceCommProxy;

// A unicast class A, B or C host address in dotted decimal form.
bool IsValidIpAddress(const std::string& address);

// Non-empty, at most `limit` UTF-8 characters (no limit for the largest unsigned value) and,
// when `refuseIllegal` is set, free of the characters the host refuses in names.
bool CheckStringValid(const std::string& text, unsigned int limit, bool refuseIllegal);

// The non-empty pieces of the text between separators, in order.
std::vector<std::string> SplitNonEmpty(const std::string& text, char separator);

// Cuts the text at every separator, skipping empty pieces, and reads every piece as an
// unsigned decimal number the way a formatted input stream does: leading white space skipped,
// reading stops at the first non-digit, no digits gives 0, a leading '-' wraps, too large a
// magnitude gives the largest value.
std::vector<unsigned int> SplitToUInts(const std::string& text, char separator);

// Reads one request into login parameters. Used once: Read, then Decrypt, then Check,
// stopping at the first false.
struct DeviceRequestInfo {
    DeviceRequestInfo(unsigned int deviceType, unsigned int protocolType)
        : protocol_type(protocolType), device_type(deviceType)
    {
    }
    DeviceRequestInfo(const DeviceRequestInfo&) = delete;
    DeviceRequestInfo& operator=(const DeviceRequestInfo&) = delete;

    virtual bool Read(proto::IProto* request) = 0;
    // The session text is not needed: the request carries no secret for a Modbus I/O box.
    virtual bool Decrypt(const std::string& userSession);
    virtual bool Check();

    virtual ~DeviceRequestInfo();

    unsigned int protocol_type;
    unsigned int device_type;
    std::shared_ptr<dam::CBaseLoginParam> login_param;
};

// "/AddDevicesRequest/SingleDevice/..."
struct AddDeviceRequestInfo : DeviceRequestInfo {
    using DeviceRequestInfo::DeviceRequestInfo;
    bool Read(proto::IProto* request) override;
};

// "/SingleDevicePutRequest/..."
struct ModifyDeviceRequestInfo : DeviceRequestInfo {
    using DeviceRequestInfo::DeviceRequestInfo;
    bool Read(proto::IProto* request) override;
};

class CCommonHelper {
public:
    // The device's common feature (feature type 1); empty for an empty device, a device
    // without one, or one of another class.
    static std::shared_ptr<dam::CCommonFeature> GetCommonFeature(std::shared_ptr<dam::IDevice> device);
    // The communication proxy of the device's access protocol; false (logged) when there is none.
    static bool GetCommPtr(std::shared_ptr<CSPDeviceCommProxy>& proxy, std::shared_ptr<dam::IDevice> device);
};

} // namespace iobox
