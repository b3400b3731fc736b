#include "dam/Device.h"

namespace dam {

using Marl::Base::Error::ErrorCode;

IDevice::~IDevice() = default;

CDevice::CDevice(DeviceInfo info) : m_info(std::move(info)) {}
CDevice::~CDevice() = default;

std::shared_ptr<CFeature> CDevice::GetFeature(int type)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_features.find(type);
    return it == m_features.end() ? nullptr : it->second;
}

bool CDevice::AddFeature(std::shared_ptr<CFeature> feature)
{
    if (!feature) {
        return false;
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_features.emplace(feature->GetFeatureType(), std::move(feature)).second;
}

int CDevice::GetAccessProtocol()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.protocol;
}
int CDevice::GetDeviceCategory()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.category;
}
std::shared_ptr<CBaseLoginParam> CDevice::GetDeviceLoginParam()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.loginParam;
}
void CDevice::SetDeviceLoginParam(std::shared_ptr<CBaseLoginParam> param)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_info.loginParam = std::move(param);
}
std::string CDevice::GetSearchText()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.searchText;
}
int CDevice::GetPasswordStrength()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.passwordStrength;
}
void CDevice::SetPasswordStrength(int strength)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_info.passwordStrength = strength;
}
std::string CDevice::GetDeviceCode()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.code;
}
int CDevice::MapLoginHandle(int loginHandle)
{
    // The host keeps the connection handle itself as the device handle.
    return loginHandle;
}
int CDevice::GetDeviceHandle()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_handle;
}
void CDevice::ResetDeviceHandle()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handle = -1;
}
void CDevice::SetDeviceHandle(int handle)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handle = handle;
}
void CDevice::SetLoginMode(int mode)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_loginMode = mode;
}
int CDevice::GetLoginMode()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_loginMode;
}
std::string CDevice::GetDeviceGuid()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.guid;
}
int CDevice::GetDeviceID()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.id;
}
std::string CDevice::GetDeviceName()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.name;
}
void CDevice::SetDeviceName(const std::string& name)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_info.name = name;
}
std::string CDevice::GetSerialNumber()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.serialNumber;
}
bool CDevice::IsOnline()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_online;
}
void CDevice::SetOnline(bool online)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_online = online;
}
bool CDevice::IsActive()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.active;
}
void CDevice::SetActive(bool active)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_info.active = active;
}
int CDevice::GetSubCategory()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.subCategory;
}
void CDevice::SetSubCategory(int subCategory)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_info.subCategory = subCategory;
}
int CDevice::GetDeviceType()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.deviceType;
}
int CDevice::GetManufacturer()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.manufacturer;
}
std::vector<std::shared_ptr<CChannel>> CDevice::GetChannels(int channelType)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::shared_ptr<CChannel>> out;
    for (const auto& channel : m_channels) {
        if (channel->GetType() == channelType) {
            out.push_back(channel);
        }
    }
    return out;
}
std::shared_ptr<CChannel> CDevice::GetChannelByID(unsigned int channelId, int channelType)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& channel : m_channels) {
        if (channel->GetID() == channelId && channel->GetType() == channelType) {
            return channel;
        }
    }
    return nullptr;
}
std::vector<std::shared_ptr<CChannel>> CDevice::GetAllChannels()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_channels;
}
void CDevice::ReplaceChannels(const std::vector<std::shared_ptr<CChannel>>& channels)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_channels = channels;
}
ErrorCode CDevice::GetOfflineError()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_offlineError;
}
ErrorCode CDevice::GetOnlineError()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_onlineError;
}
void CDevice::SetOnlineError(const ErrorCode& error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onlineError = error;
}
void CDevice::SetOfflineError(const ErrorCode& error)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_offlineError = error;
}
std::string CDevice::GetVersion()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_info.version;
}

} // namespace dam
