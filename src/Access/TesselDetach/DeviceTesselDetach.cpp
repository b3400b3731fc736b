#include "Access/TesselDetach/DeviceTesselDetach.h"

#include <algorithm>

#include "Access/CommonHelper/CommonHelper.h"
#include "Common/Error.h"
#include "Common/Log.h"
#include "Common/Platform.h"
#include "Marl/Base/Singleton.h"
#include "dam/InterfaceManager.h"

namespace iobox {

namespace {

// The thread error value of a request this handler cannot take.
constexpr unsigned long kThreadErrorUnsupported = 2;

dam::CIInterfaceManager& Interfaces() { return *Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance(); }

void EncodeBaseInfo(proto::IProto& document, void* node, dam::IDevice& device, const dam::CModbusLoginParam& login,
                    const std::string& userSession, unsigned int method)
{
    void* base = document.add_object(node, "BaseInfo");
    if (base == nullptr) {
        return;
    }
    document.add_v(base, "ID", device.GetDeviceID());
    if (method != kNoMethod) {
        document.add_v(base, "Method", static_cast<int>(method));
    }
    document.add_v(base, "DeviceCategory", device.GetDeviceCategory());
    document.add_v(base, "DeviceSubCategory", device.GetSubCategory());
    document.add_v(base, "AlarmHostSubCategory", static_cast<int>(kSubCategoryIOBox));
    document.add_v(base, "Manufacturer", device.GetManufacturer());
    document.add_v(base, "ProtocolTypeCategory", device.GetAccessProtocol());
    document.add_v(base, "Alias", device.GetDeviceName());
    document.add_v(base, "SerialNumber", device.GetSerialNumber());
    document.add_v(base, "LoginAddress", login.GetVal_login_address());
    document.add_v(base, "IPAddress", login.GetVal_login_address());
    document.add_v(base, "Port", static_cast<int>(login.GetVal_login_port()));
    document.add_v(base, "UserName", login.GetVal_user_name());
    std::string password;
    EncryptPassword(password, login.GetVal_password(), userSession);
    document.add_v(base, "Password", password);
    const std::string version = device.GetVersion();
    document.add_v(base, "FirmwareVersion", version);
    document.add_v(base, "SoftwareVersion", version);
    document.add_v(base, "AvailableZoneNum", login.GetVal_input_num());
    document.add_v(base, "AvailableTriggerOutNum", login.GetVal_output_num());
    void* ioBox = document.add_object(base, "IOBox");
    if (ioBox == nullptr) {
        return;
    }
    document.add_v(ioBox, "AlarmInputCount", login.GetVal_input_num());
    document.add_v(ioBox, "AlarmOutputCount", login.GetVal_output_num());
    document.add_v(ioBox, "AlarmInputType", login.GetVal_input_type());
}

void EncodeStatus(proto::IProto& document, void* node, dam::IDevice& device)
{
    void* status = document.add_object(node, "Status");
    if (status == nullptr) {
        return;
    }
    const bool online = device.IsOnline();
    document.add_v(status, "Network", online ? 1 : 0);
    document.add_v(status, "IsActive", device.IsActive() ? 1 : 0);
    document.add_v(status, "PasswordStrength", device.GetPasswordStrength());
    const Marl::Base::Error::ErrorCode error = online ? device.GetOnlineError() : device.GetOfflineError();
    document.add_v(status, "ErrorModule", ErrorModuleOf(error));
    document.add_v(status, "ErrorCode", ErrorCodeOf(error));
}

// The keys every channel element starts with.
void EncodeChannelIdentity(proto::IProto& document, void* element, const dam::CChannel& channel)
{
    document.add_v(element, "ID", static_cast<int>(channel.GetID()));
    document.add_v(element, "Guid", channel.GetGuid());
    document.add_v(element, "No", channel.GetNo());
}

} // namespace

CModbusTesselDetach::CModbusTesselDetach()
{
    std::lock_guard<std::mutex> lock(device_protocol_mutex);
    device_protocol_map[kDeviceCategoryIOBox] = kAccessProtocolModbus;
    m_mapOperationLogType.clear();
    m_mapOperationLogType["device_add"] = kOperationLogDeviceAdd;
    m_mapOperationLogType["device_delete"] = kOperationLogDeviceDelete;
    m_mapOperationLogType["device_modify"] = kOperationLogDeviceModify;
}

CModbusTesselDetach::~CModbusTesselDetach() = default;

bool CModbusTesselDetach::FilterDevicesByCondition(unsigned int& /*errorModule*/, unsigned int& /*errorCode*/,
                                                   std::vector<std::shared_ptr<dam::IDevice>>& devices,
                                                   proto::IProto* request)
{
    // Without a request every criterion keeps its default, which matches every device.
    bool andMode = true;
    std::string searchText;
    std::vector<unsigned int> accepted;
    if (request != nullptr) {
        andMode = request->get_int_v("/DevicesRequest/SearchCriteria/LogicalOperator", 1) != 2;
        searchText = request->get_v("/DevicesRequest/SearchCriteria/Alias", "");
        accepted = SplitToUInts(request->get_v("/DevicesRequest/SearchCriteria/DeviceSubCategorys", ""), ',');
    }
    // An operator who asks for I/O boxes means every sub-category an I/O box is filed under.
    if (std::find(accepted.begin(), accepted.end(), kSubCategoryIOBox) != accepted.end()) {
        accepted.push_back(kSubCategoryLoggedIn);
        accepted.push_back(kSubCategoryAlarmHost);
    }

    // Every pass either erases the device under the iterator or steps past it.
    auto it = devices.begin();
    while (it != devices.end()) {
        const std::shared_ptr<dam::IDevice> device = *it;
        if (!device) {
            // Nothing to match on: no criterion can keep it.
            it = devices.erase(it);
            continue;
        }
        const std::vector<std::string> candidates{device->GetDeviceName(), device->GetSerialNumber(),
                                                  device->GetSearchText()};
        if (FilterCondition(andMode, FilterAlias(searchText, candidates), it, devices)) {
            continue;
        }
        if (FilterCondition(andMode, FilterSubCategory(accepted, device->GetSubCategory()), it, devices)) {
            continue;
        }
        if (andMode) {
            ++it;
        } else {
            it = devices.erase(it);
        }
    }
    return true;
}

bool CModbusTesselDetach::ParsePostSingleDeviceLoginParam(std::shared_ptr<dam::CBaseLoginParam>& out,
                                                          proto::IProto* request, const std::string& userSession)
{
    if (request == nullptr) {
        IOBOX_LOG(5, "iobox::CModbusTesselDetach::ParsePostSingleDeviceLoginParam", "request pointer pro_req is null");
        platform::SetThreadErrorValue(kThreadErrorUnsupported);
        return false;
    }
    const int category = request->get_int_v("/AddDevicesRequest/DeviceType", -1);
    const int protocol = request->get_int_v("/AddDevicesRequest/DeviceProtocol", -1);
    if (!IsDeviceProtocolMatched(static_cast<unsigned int>(category), static_cast<unsigned int>(protocol))) {
        platform::SetThreadErrorValue(kThreadErrorUnsupported);
        return false;
    }
    return ProcessLoginParam<AddDeviceRequestInfo>(out, static_cast<unsigned int>(category),
                                                   static_cast<unsigned int>(protocol), request, userSession);
}

bool CModbusTesselDetach::ParsePutSingleDeviceLoginParam(std::shared_ptr<dam::CBaseLoginParam>& out,
                                                         proto::IProto* request, const std::string& userSession)
{
    if (request == nullptr) {
        IOBOX_LOG(5, "iobox::CModbusTesselDetach::ParsePutSingleDeviceLoginParam", "request pointer pro_req is null");
        platform::SetThreadErrorValue(kThreadErrorUnsupported);
        return false;
    }
    const int category = request->get_int_v("/SingleDevicePutRequest/DeviceCategory", 0);
    const int protocol = request->get_int_v("/SingleDevicePutRequest/AccessProtocalType", 0);
    if (!IsDeviceProtocolMatched(static_cast<unsigned int>(category), static_cast<unsigned int>(protocol))) {
        platform::SetThreadErrorValue(kThreadErrorUnsupported);
        return false;
    }
    return ProcessLoginParam<ModifyDeviceRequestInfo>(out, static_cast<unsigned int>(category),
                                                      static_cast<unsigned int>(protocol), request, userSession);
}

bool CModbusTesselDetach::EncodeSingleDeviceInfo(proto::IProto* document, void* node,
                                                 std::shared_ptr<dam::IDevice> device, const std::string& fields,
                                                 const std::string& userSession, unsigned int method)
{
    return EncodeSupportedDevice("iobox::CModbusTesselDetach::EncodeSingleDeviceInfo", document, node, device, fields,
                                 userSession, method);
}

bool CModbusTesselDetach::GetSingleDeviceInfo(proto::IProto* document, void* node,
                                              std::shared_ptr<dam::IDevice> device, const std::string& userSession)
{
    return EncodeSupportedDevice("iobox::CModbusTesselDetach::GetSingleDeviceInfo", document, node, device,
                                 "AlarmInputList,AlarmOutputList,Status", userSession, kNoMethod);
}

bool CModbusTesselDetach::EncodeSupportedDevice(const char* function, proto::IProto* document, void* node,
                                                const std::shared_ptr<dam::IDevice>& device, const std::string& fields,
                                                const std::string& userSession, unsigned int method)
{
    if (!device) {
        IOBOX_LOG(5, function, "Device point is null!");
        return false;
    }
    if (device->GetDeviceCategory() != static_cast<int>(kDeviceCategoryIOBox)) {
        IOBOX_LOG(5, function, "Not support device type!, device_type[%d]", device->GetDeviceType());
        platform::SetThreadErrorValue(kThreadErrorUnsupported);
        return false;
    }
    EncodeDeviceInfo(document, node, device, fields, userSession, method);
    return true;
}

bool CModbusTesselDetach::AfterDeviceAdded(const std::string&, std::shared_ptr<dam::IDevice>) { return true; }

bool CModbusTesselDetach::AfterDeviceModified(const std::string&, proto::IProto*,
                                              std::shared_ptr<dam::CBaseLoginParam>, std::shared_ptr<dam::IDevice>)
{
    return true;
}

bool CModbusTesselDetach::DeleteDevice(unsigned int& errorModule, unsigned int& errorCode,
                                       const std::vector<unsigned int>& deviceIds, const std::string& userSession)
{
    static const char* const kFunc = "iobox::CModbusTesselDetach::DeleteDevice";
    const auto deviceManager = Interfaces().GetDeviceManager();
    if (!deviceManager) {
        IOBOX_LOG(5, kFunc, "Device manager ptr is null!");
        return false;
    }
    const auto operationLog = Interfaces().GetWriteOperationLog();
    if (!operationLog) {
        IOBOX_LOG(5, kFunc, "Log write ptr is null!");
        return false;
    }
    const int category = static_cast<int>(kDeviceCategoryIOBox);
    for (unsigned int id : deviceIds) {
        const auto device = deviceManager->GetDevice(id, category);
        if (!device) {
            errorModule = 0;
            errorCode = kErrorNoDeviceWithId;
            return false;
        }
        const std::string name = device->GetDeviceName();
        if (!deviceManager->DeleteDeviceByID(id, category)) {
            IOBOX_LOG(5, kFunc, "Failed to delete alarm host of IOBox device id = %d, name = %s", static_cast<int>(id),
                      name.c_str());
            return false;
        }
        operationLog->WriteOperationLog(userSession, kOperationLogDeviceDelete, id, name, false, 0, 0, std::string());
    }
    return true;
}

bool CModbusTesselDetach::IsSupportBatchAdd() { return true; }

bool CModbusTesselDetach::BeforeDeleteDevice(const std::vector<unsigned int>&) { return true; }

void CModbusTesselDetach::OnChannelStateChanged(int, const std::string&, std::shared_ptr<dam::CChannel>,
                                                std::shared_ptr<dam::IDevice>)
{
}

bool CModbusTesselDetach::IsDeviceProtocolMatched(unsigned int category, unsigned int protocol)
{
    static const char* const kFunc = "iobox::CModbusTesselDetach::IsDeviceProtocolMatched";
    bool known = false;
    unsigned int accepted = 0;
    {
        // Only the lookup is guarded: the log call is the host's and runs without our lock.
        std::lock_guard<std::mutex> lock(device_protocol_mutex);
        const auto it = device_protocol_map.find(category);
        if (it != device_protocol_map.end()) {
            known = true;
            accepted = it->second;
        }
    }
    if (!known) {
        IOBOX_LOG(5, kFunc, "Not support device type!, device_type[%d]", static_cast<int>(category));
        return false;
    }
    if (accepted != protocol) {
        IOBOX_LOG(5, kFunc, "Device type and protocol type are unmatched!, device_type[%d], protocol_type[%d]",
                  static_cast<int>(category), static_cast<int>(protocol));
        return false;
    }
    return true;
}

void CModbusTesselDetach::EncodeDeviceInfo(proto::IProto* document, void* node, std::shared_ptr<dam::IDevice> device,
                                           const std::string& fields, const std::string& userSession,
                                           unsigned int method)
{
    if (document == nullptr || !device || !CCommonHelper::GetCommonFeature(device)) {
        return;
    }
    const auto login = std::dynamic_pointer_cast<dam::CModbusLoginParam>(device->GetDeviceLoginParam());
    if (!login) {
        return;
    }
    EncodeBaseInfo(*document, node, *device, *login, userSession, method);
    if (fields.empty()) {
        return;
    }
    for (const std::string& field : SplitToStrings(fields, ',')) {
        if (field == "AlarmInputList") {
            // Created even when the device has no inputs, so the host always finds the list.
            void* list = document->add_object(node, "AlarmInputList");
            if (list != nullptr) {
                EncodeChannelList(document, list, "AlarmInput", kChannelTypeAlarmInput, device, true);
            }
        } else if (field == "AlarmOutputList") {
            void* list = document->add_object(node, "AlarmOutputList");
            if (list != nullptr) {
                EncodeChannelList(document, list, "AlarmOutput", kChannelTypeAlarmOutput, device, true);
            }
        } else if (field == "Status") {
            EncodeStatus(*document, node, *device);
        }
    }
}

template <class Reader>
bool ProcessLoginParam(std::shared_ptr<dam::CBaseLoginParam>& out, unsigned int category, unsigned int protocol,
                       proto::IProto* request, const std::string& userSession)
{
    static const char* const kFunc = "iobox::ProcessLoginParam";
    Reader reader(category, protocol);
    if (!reader.Read(request)) {
        IOBOX_LOG(5, kFunc, "Parse login param failed.");
        return false;
    }
    if (!reader.Decrypt(userSession)) {
        IOBOX_LOG(5, kFunc, "Decript login param failed.");
        return false;
    }
    if (!reader.Check()) {
        IOBOX_LOG(5, kFunc, "Check login param failed.");
        return false;
    }
    out = reader.login_param;
    return true;
}

template bool ProcessLoginParam<AddDeviceRequestInfo>(std::shared_ptr<dam::CBaseLoginParam>&, unsigned int,
                                                      unsigned int, proto::IProto*, const std::string&);
template bool ProcessLoginParam<ModifyDeviceRequestInfo>(std::shared_ptr<dam::CBaseLoginParam>&, unsigned int,
                                                         unsigned int, proto::IProto*, const std::string&);

std::vector<std::string> SplitToStrings(const std::string& text, char separator)
{
    return SplitNonEmpty(text, separator);
}

bool EncryptPassword(std::string& out, const std::string& storedPassword, const std::string& userSession)
{
    if (storedPassword.empty()) {
        out = storedPassword;
        return true;
    }
    // Whatever happens below, the stored text itself never ends up in `out`.
    out.clear();
    const auto sessions = Interfaces().GetUserSessionManager();
    if (!sessions) {
        return false;
    }
    return sessions->EncryptBySession(out, storedPassword, userSession, false);
}

void EncodeChannelList(proto::IProto* document, void* listNode, const std::string& elementKey, int channelType,
                       std::shared_ptr<dam::IDevice> device, bool withArea)
{
    if (document == nullptr || !device) {
        return;
    }
    for (const auto& channel : device->GetChannels(channelType)) {
        void* element = document->add_list_v(listNode, elementKey, std::string());
        if (element != nullptr) {
            EncodeChannel(document, element, channel, device, withArea);
        }
    }
}

void EncodeChannel(proto::IProto* document, void* element, std::shared_ptr<dam::CChannel> channel,
                   std::shared_ptr<dam::IDevice> device, bool withArea)
{
    if (document == nullptr || !channel || !device) {
        return;
    }
    switch (channel->GetType()) {
    case kChannelTypeAlarmInput:
        EncodeAlarmInput(document, element, std::dynamic_pointer_cast<dam::CAlarmInput>(channel), withArea);
        break;
    case kChannelTypeAlarmOutput:
        EncodeAlarmOutput(document, element, std::dynamic_pointer_cast<dam::CAlarmOutput>(channel), withArea);
        break;
    default:
        break;
    }
}

void EncodeAlarmInput(proto::IProto* document, void* element, std::shared_ptr<dam::CAlarmInput> input,
                      bool withArea)
{
    if (document == nullptr || !input) {
        return;
    }
    EncodeChannelIdentity(*document, element, *input);
    document->add_v(element, "Name", input->GetName());
    document->add_v(element, "Type", input->GetAlarmInputType());
    document->add_v(element, "Online", input->IsOnline() ? 1 : 0);
    document->add_v(element, "RelatedCameraNo", input->GetRelatedChannelNo());
    document->add_v(element, "AlarmInputType", 0);
    // I/O box inputs can be neither guarded nor bypassed.
    void* ability = document->add_object(element, "AbilitySet");
    if (ability != nullptr) {
        document->add_v(ability, "IsSupportGuard", 0);
        document->add_v(ability, "IsSupportByPass", 0);
    }
    EncodeChannelArea(document, element, input, withArea);
}

void EncodeAlarmOutput(proto::IProto* document, void* element, std::shared_ptr<dam::CAlarmOutput> output,
                       bool withArea)
{
    if (document == nullptr || !output) {
        return;
    }
    EncodeChannelIdentity(*document, element, *output);
    document->add_v(element, "Type", output->GetAlarmOutputType());
    document->add_v(element, "Name", output->GetName());
    document->add_v(element, "Online", output->IsOnline() ? 1 : 0);
    EncodeChannelArea(document, element, output, withArea);
}

void EncodeChannelArea(proto::IProto* document, void* element, std::shared_ptr<dam::CChannel> channel,
                       bool withArea)
{
    if (document == nullptr || !withArea) {
        return;
    }
    int areaId = -1;
    std::string areaName;
    const auto areas = Interfaces().GetAreaManager();
    if (channel && areas) {
        if (const auto area = areas->GetChannelArea(channel->GetID(), channel->GetType())) {
            areaId = area->GetAreaID();
            areaName = area->GetAreaName();
        }
    }
    void* areaNode = document->add_object(element, "Area");
    if (areaNode == nullptr) {
        return;
    }
    document->add_v(areaNode, "AreaID", areaId);
    document->add_v(areaNode, "AreaName", areaName);
}

} // namespace iobox
