#include "Access/Strategy/IOBoxStrategy.h"

#include "Access/CommonHelper/CommonHelper.h"
#include "Common/Constants.h"
#include "Common/Error.h"
#include "Common/Log.h"
#include "Communication/DeviceCommProxy.h"
#include "Marl/Base/StringUtil.h"
#include "dam/Feature.h"

namespace iobox {

namespace {

const char* const kCtor = "iobox::CIOBoxStrategy::CIOBoxStrategy";
const char* const kAfterInitFromDB = "iobox::CIOBoxStrategy::AfterInitFromDB";
const char* const kAfterLogin = "iobox::CIOBoxStrategy::AfterLogin";
const char* const kLogin = "iobox::CIOBoxStrategy::Login";
const char* const kLogout = "iobox::CIOBoxStrategy::Logout";
const char* const kRefreshChannel = "iobox::CIOBoxStrategy::RefreshChannel";

// "AlarmInput 01", "Alarmoutput 12", "AlarmInput 100".
std::string ChannelName(const char* base, int number)
{
    return std::string(base) + " " + Marl::Base::StringUtil::str_fmt("%02d", number);
}

template <class Obj>
std::vector<std::shared_ptr<Obj>> BuildChannels(int count, int channelType, const char* baseName)
{
    std::vector<std::shared_ptr<Obj>> list;
    for (int i = 1; i <= count; ++i) {
        auto obj = std::make_shared<Obj>();
        obj->SetVal_no(i);
        obj->SetVal_channel_type(channelType);
        obj->SetVal_name(ChannelName(baseName, i));
        obj->SetVal_online(true);
        obj->SetVal_enable(true);
        list.push_back(std::move(obj));
    }
    return list;
}

} // namespace

CIOBoxStrategy::CIOBoxStrategy(std::shared_ptr<dam::IDevice> device, bool bare)
    : dam::CStrategy_Standard(device, bare)
{
    if (bare) {
        return;
    }
    if (std::dynamic_pointer_cast<dam::CCommonFeature>(GetFeatureByType(kFeatureTypeCommon))) {
        return;
    }
    auto feature = dam::CFeatureFactory::CreateFeature(kFeatureTypeCommon, device, nullptr);
    if (!AddFeature(feature)) {
        IOBOX_LOG(5, kCtor, "AddFeature:Common failed!");
    }
}

CIOBoxStrategy::~CIOBoxStrategy() = default;

std::string CIOBoxStrategy::GetStrategyVersion() { return "2.1.0"; }
int CIOBoxStrategy::GetLoginType() { return 0; }
std::string CIOBoxStrategy::GetModuleName() { return "iobox.d"; }
bool CIOBoxStrategy::IsNeedSyncTime() { return false; }
bool CIOBoxStrategy::IsSupportTalk() { return false; }
bool CIOBoxStrategy::IsSupportChannelRefresh() { return true; }
bool CIOBoxStrategy::IsSupportPlayback() { return false; }
bool CIOBoxStrategy::IsAllowAutoLogin() { return true; }
bool CIOBoxStrategy::CheckDeviceStatus() { return true; }
bool CIOBoxStrategy::OnChannelChanged(int, int) { return true; }

bool CIOBoxStrategy::AfterInitFromDB()
{
    auto device = GetDevicePtr();
    if (!device) {
        IOBOX_LOG(5, kAfterInitFromDB, "Device ptr is null!");
        return false;
    }
    auto feature = CCommonHelper::GetCommonFeature(device);
    if (!feature) {
        IOBOX_LOG(5, kAfterInitFromDB, "common feature ptr is null!");
        return false;
    }
    auto param = device->GetDeviceLoginParam();
    if (!param) {
        IOBOX_LOG(5, kAfterInitFromDB, "login param ptr is null!");
        return false;
    }
    auto modbus = std::dynamic_pointer_cast<dam::CModbusLoginParam>(param);
    if (!modbus) {
        IOBOX_LOG(5, kAfterInitFromDB, " modbus login param ptr is null!");
        return false;
    }
    modbus->SetVal_input_num(feature->GetAlarmInputCount());
    modbus->SetVal_output_num(feature->GetAlarmOutputCount());
    modbus->SetVal_input_type(feature->GetDeviceType());
    modbus->SetSubCategory(kSubCategoryIOBox);
    return true;
}

bool CIOBoxStrategy::Login()
{
    auto device = GetDevicePtr();
    if (!device) {
        IOBOX_LOG(5, kLogin, "Device ptr is null!");
        return false;
    }
    std::shared_ptr<CSPDeviceCommProxy> proxy;
    if (!CCommonHelper::GetCommPtr(proxy, device) || !proxy) {
        IOBOX_LOG(5, kLogin, "ptr_comm_proxy is null!");
        return false;
    }
    auto loginData = std::make_shared<dam::CDeviceLoginData>();
    auto param = GetLoginParam();
    if (!param) {
        IOBOX_LOG(5, kLogin, "Login parm is nullptr!");
        return false;
    }
    if (!proxy->Request_loginData(loginData, param, device)) {
        const auto error = Marl::Base::Error::GetLastError();
        IOBOX_LOG(5, kLogin, "Request_loginData failed!, device_name[%s], device_code[%s], error[%d, %d]",
                  device->GetDeviceName().c_str(), device->GetDeviceCode().c_str(), ErrorModuleOf(error),
                  ErrorCodeOf(error));
        return false;
    }
    device->SetDeviceHandle(loginData->GetVal_device_handle());
    device->SetLoginMode(loginData->GetVal_i_iLoginMode());
    const bool ok = AfterLogin(loginData);
    if (!ok) {
        Logout();
        device->SetDeviceHandle(-1);
    }
    return ok;
}

bool CIOBoxStrategy::AfterLogin(std::shared_ptr<dam::CDeviceLoginData> loginData)
{
    auto device = GetDevicePtr();
    if (!device) {
        IOBOX_LOG(5, kAfterLogin, "device ptr is null!");
        return false;
    }
    auto feature = CCommonHelper::GetCommonFeature(device);
    if (!feature) {
        IOBOX_LOG(5, kAfterLogin, "common feature ptr is null!");
        return false;
    }
    auto param = device->GetDeviceLoginParam();
    if (!param) {
        IOBOX_LOG(5, kAfterLogin, "login param ptr is null!");
        return false;
    }
    if (loginData) {
        feature->SetResolvedIP(loginData->GetVal_str_ip_address());
        feature->SetResolvedPort(static_cast<unsigned short>(loginData->GetVal_u_port()));
    }
    if (auto modbus = std::dynamic_pointer_cast<dam::CModbusLoginParam>(param)) {
        feature->SetAlarmInputCount(modbus->GetVal_input_num());
        feature->SetAlarmOutputCount(modbus->GetVal_output_num());
        feature->SetDeviceType(modbus->GetVal_input_type());
    }
    device->SetSubCategory(kSubCategoryLoggedIn);
    // The host may keep its own idea of the sub-category; build channels only if it took 207.
    auto current = GetDevicePtr();
    if (current && current->GetSubCategory() == kSubCategoryLoggedIn) {
        feature->SetAlarmInputObj(
            BuildChannels<dam::CAlarmInputObj>(feature->GetAlarmInputCount(), kChannelTypeAlarmInput, "AlarmInput"));
        feature->SetAlarmOutputObj(BuildChannels<dam::CAlarmOutputObj>(feature->GetAlarmOutputCount(),
                                                                       kChannelTypeAlarmOutput, "Alarmoutput"));
    }
    if (!RefreshChannel()) {
        IOBOX_LOG(5, kAfterLogin, "RefreshChannel failed.");
        return false;
    }
    return true;
}

bool CIOBoxStrategy::RefreshChannel()
{
    auto device = GetDevicePtr();
    if (!device) {
        IOBOX_LOG(5, kRefreshChannel, "Device ptr is null!");
        return false;
    }
    auto feature = CCommonHelper::GetCommonFeature(device);
    if (!feature) {
        IOBOX_LOG(5, kRefreshChannel, "common feature ptr is null!");
        return false;
    }
    auto cache = std::make_shared<dam::CChannelCache>();
    if (!feature->CollectChannels(cache)) {
        return false;
    }
    return feature->ApplyChannels(cache, false);
}

bool CIOBoxStrategy::Logout()
{
    auto device = GetDevicePtr();
    if (!device) {
        IOBOX_LOG(5, kLogout, "Device ptr is null!");
        return false;
    }
    std::shared_ptr<CSPDeviceCommProxy> proxy;
    if (!CCommonHelper::GetCommPtr(proxy, device) || !proxy) {
        IOBOX_LOG(5, kLogout, "ptr_comm_proxy is null!");
        return false;
    }
    if (proxy->Request_Logout(device)) {
        return true;
    }
    const auto error = Marl::Base::Error::GetLastError();
    IOBOX_LOG(5, kLogout, "Request_Logout failed, device_name[%s], device_code[%s], error[%d, %d]",
              device->GetDeviceName().c_str(), device->GetDeviceCode().c_str(), ErrorModuleOf(error), ErrorCodeOf(error));
    return false;
}

} // namespace iobox
