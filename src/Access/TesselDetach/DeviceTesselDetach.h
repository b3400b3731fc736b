#pragma once
// The host's device-management requests for I/O boxes: add and modify requests into login
// parameters, list filtering, deletion and the device information document.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "dam/Channel.h"
#include "dam/Device.h"
#include "dam/LoginParam.h"
#include "dam/TesselDetach.h"
#include "proto/IProto.h"

namespace iobox {

// Operation-log types the host writes for I/O boxes.
constexpr unsigned int kOperationLogDeviceAdd = 2910;
constexpr unsigned int kOperationLogDeviceModify = 2911;
constexpr unsigned int kOperationLogDeviceDelete = 2912;

// "method" value that leaves "Method" out of the device information.
constexpr unsigned int kNoMethod = 0xFFFFFFFFu;

class CModbusTesselDetach : public dam::CDeviceTesselDetach {
public:
    CModbusTesselDetach();
    ~CModbusTesselDetach() override;
    CModbusTesselDetach(const CModbusTesselDetach&) = delete;
    CModbusTesselDetach& operator=(const CModbusTesselDetach&) = delete;

    // Always true; the error arguments are left alone.
    bool FilterDevicesByCondition(unsigned int& errorModule, unsigned int& errorCode,
                                  std::vector<std::shared_ptr<dam::IDevice>>& devices,
                                  proto::IProto* request) override;
    bool ParsePostSingleDeviceLoginParam(std::shared_ptr<dam::CBaseLoginParam>& out, proto::IProto* request,
                                         const std::string& userSession) override;
    bool ParsePutSingleDeviceLoginParam(std::shared_ptr<dam::CBaseLoginParam>& out, proto::IProto* request,
                                        const std::string& userSession) override;
    bool EncodeSingleDeviceInfo(proto::IProto* document, void* node, std::shared_ptr<dam::IDevice> device,
                                const std::string& fields, const std::string& userSession,
                                unsigned int method) override;
    bool GetSingleDeviceInfo(proto::IProto* document, void* node, std::shared_ptr<dam::IDevice> device,
                             const std::string& userSession) override;
    bool AfterDeviceAdded(const std::string& userSession, std::shared_ptr<dam::IDevice> device) override;
    bool AfterDeviceModified(const std::string& userSession, proto::IProto* request,
                             std::shared_ptr<dam::CBaseLoginParam> oldParam,
                             std::shared_ptr<dam::IDevice> device) override;
    // A missing device ends the call with module 0, code 903 in the out-arguments.
    bool DeleteDevice(unsigned int& errorModule, unsigned int& errorCode, const std::vector<unsigned int>& deviceIds,
                      const std::string& userSession) override;
    bool IsSupportBatchAdd() override;
    bool BeforeDeleteDevice(const std::vector<unsigned int>& deviceIds) override;
    void OnChannelStateChanged(int state, const std::string& text, std::shared_ptr<dam::CChannel> channel,
                               std::shared_ptr<dam::IDevice> device) override;

    bool IsDeviceProtocolMatched(unsigned int category, unsigned int protocol);
    // Writes "BaseInfo" and the parts the comma-separated field list names under the node;
    // nothing when the device lacks its common feature or Modbus login parameters.
    void EncodeDeviceInfo(proto::IProto* document, void* node, std::shared_ptr<dam::IDevice> device,
                          const std::string& fields, const std::string& userSession, unsigned int method);

private:
    // The checks that EncodeSingleDeviceInfo and GetSingleDeviceInfo share, logged as `function`.
    bool EncodeSupportedDevice(const char* function, proto::IProto* document, void* node,
                               const std::shared_ptr<dam::IDevice>& device, const std::string& fields,
                               const std::string& userSession, unsigned int method);

    std::mutex device_protocol_mutex;
    std::map<unsigned int, unsigned int> device_protocol_map;
};

// Runs a request reader (Read, Decrypt, Check) and hands out its login parameters; `out` is
// left as it was on any failure. Instantiated for AddDeviceRequestInfo and ModifyDeviceRequestInfo.
template <class Reader>
bool ProcessLoginParam(std::shared_ptr<dam::CBaseLoginParam>& out, unsigned int category, unsigned int protocol,
                       proto::IProto* request, const std::string& userSession);

// The non-empty pieces of the text between separators, in order.
std::vector<std::string> SplitToStrings(const std::string& text, char separator);

// The stored password as the requester's session may see it. An empty password stays empty
// (success); without a session manager the result is empty text and failure.
bool EncryptPassword(std::string& out, const std::string& storedPassword, const std::string& userSession);

// One list element per channel of the type, each encoded by EncodeChannel.
void EncodeChannelList(proto::IProto* document, void* listNode, const std::string& elementKey, int channelType,
                       std::shared_ptr<dam::IDevice> device, bool withArea);
void EncodeChannel(proto::IProto* document, void* element, std::shared_ptr<dam::CChannel> channel,
                   std::shared_ptr<dam::IDevice> device, bool withArea);
void EncodeAlarmInput(proto::IProto* document, void* element, std::shared_ptr<dam::CAlarmInput> input,
                      bool withArea);
void EncodeAlarmOutput(proto::IProto* document, void* element, std::shared_ptr<dam::CAlarmOutput> output,
                       bool withArea);
// "Area" of the channel; -1 and the empty name when the host knows none.
void EncodeChannelArea(proto::IProto* document, void* element, std::shared_ptr<dam::CChannel> channel,
                       bool withArea);

} // namespace iobox
