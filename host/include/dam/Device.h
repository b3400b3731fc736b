#pragma once
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Marl/Base/Error.h"
#include "Marl/Base/Export.h"
#include "dam/Channel.h"
#include "dam/Feature.h"
#include "dam/LoginParam.h"

namespace dam {

// The host's device object, as drivers see it. The order of the table is the host's; assumed:
// the container GetChannels returns, the integer types the host leaves open, and the
// destructor after the listed slots.
class MARL_API IDevice {
public:
    virtual std::shared_ptr<CFeature> GetFeature(int type) = 0;
    virtual int GetAccessProtocol() = 0;
    virtual int GetDeviceCategory() = 0;
    virtual std::shared_ptr<CBaseLoginParam> GetDeviceLoginParam() = 0;
    virtual std::string GetSearchText() = 0;
    virtual int GetPasswordStrength() = 0;
    virtual std::string GetDeviceCode() = 0;
    virtual int MapLoginHandle(int loginHandle) = 0;
    virtual int GetDeviceHandle() = 0;
    virtual void ResetDeviceHandle() = 0;
    virtual std::string GetDeviceGuid() = 0;
    virtual int GetDeviceID() = 0;
    virtual std::string GetDeviceName() = 0;
    virtual std::string GetSerialNumber() = 0;
    virtual bool IsOnline() = 0;
    virtual bool IsActive() = 0;
    virtual int GetSubCategory() = 0;
    virtual void SetSubCategory(int subCategory) = 0;
    virtual int GetDeviceType() = 0;
    virtual int GetManufacturer() = 0;
    virtual std::vector<std::shared_ptr<CChannel>> GetChannels(int channelType) = 0;
    virtual std::shared_ptr<CChannel> GetChannelByID(unsigned int channelId, int channelType) = 0;
    virtual Marl::Base::Error::ErrorCode GetOfflineError() = 0;
    virtual Marl::Base::Error::ErrorCode GetOnlineError() = 0;
    virtual std::string GetVersion() = 0;
    virtual void SetDeviceHandle(int handle) = 0;
    virtual void SetLoginMode(int mode) = 0;

    virtual ~IDevice();
};

// What the host knows of a device when it creates it.
struct MARL_API DeviceInfo {
    int id = 0;
    std::string guid;
    int category = 0;
    int protocol = 0;
    std::string name;
    std::string code;
    std::string serialNumber;
    std::string searchText;
    std::string version;
    int manufacturer = 0;
    int deviceType = 0;
    int subCategory = 0;
    int passwordStrength = 0;
    bool active = true;
    std::shared_ptr<CBaseLoginParam> loginParam;
};

// The host's concrete device. Thread-safe: the host, the poll and the event worker all use it.
class MARL_API CDevice : public IDevice {
public:
    explicit CDevice(DeviceInfo info);
    ~CDevice() override;

    std::shared_ptr<CFeature> GetFeature(int type) override;
    int GetAccessProtocol() override;
    int GetDeviceCategory() override;
    std::shared_ptr<CBaseLoginParam> GetDeviceLoginParam() override;
    std::string GetSearchText() override;
    int GetPasswordStrength() override;
    std::string GetDeviceCode() override;
    int MapLoginHandle(int loginHandle) override;
    int GetDeviceHandle() override;
    void ResetDeviceHandle() override;
    std::string GetDeviceGuid() override;
    int GetDeviceID() override;
    std::string GetDeviceName() override;
    std::string GetSerialNumber() override;
    bool IsOnline() override;
    bool IsActive() override;
    int GetSubCategory() override;
    void SetSubCategory(int subCategory) override;
    int GetDeviceType() override;
    int GetManufacturer() override;
    std::vector<std::shared_ptr<CChannel>> GetChannels(int channelType) override;
    std::shared_ptr<CChannel> GetChannelByID(unsigned int channelId, int channelType) override;
    Marl::Base::Error::ErrorCode GetOfflineError() override;
    Marl::Base::Error::ErrorCode GetOnlineError() override;
    std::string GetVersion() override;
    void SetDeviceHandle(int handle) override;
    void SetLoginMode(int mode) override;

    // Host side.
    bool AddFeature(std::shared_ptr<CFeature> feature); // false when one of that type exists
    void SetOnline(bool online);
    void SetOnlineError(const Marl::Base::Error::ErrorCode& error);
    void SetOfflineError(const Marl::Base::Error::ErrorCode& error);
    void SetDeviceLoginParam(std::shared_ptr<CBaseLoginParam> param);
    void SetDeviceName(const std::string& name);
    void SetPasswordStrength(int strength);
    void SetActive(bool active);
    int GetLoginMode();
    // Replaces every registered channel (host side of ApplyChannels).
    void ReplaceChannels(const std::vector<std::shared_ptr<CChannel>>& channels);
    // Every registered channel, in registration order.
    std::vector<std::shared_ptr<CChannel>> GetAllChannels();

private:
    mutable std::mutex m_mutex;
    DeviceInfo m_info;
    bool m_online = false;
    int m_handle = -1;
    int m_loginMode = 0;
    Marl::Base::Error::ErrorCode m_onlineError;
    Marl::Base::Error::ErrorCode m_offlineError;
    std::map<int, std::shared_ptr<CFeature>> m_features;
    std::vector<std::shared_ptr<CChannel>> m_channels;
};

} // namespace dam
