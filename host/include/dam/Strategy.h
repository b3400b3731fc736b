#pragma once
#include <memory>
#include <string>
#include <vector>

#include "Marl/Base/Export.h"
#include "dam/Device.h"
#include "dam/Feature.h"
#include "dam/LoginParam.h"

namespace dam {

// The host's per-device strategy: how a device is restored, logged in and out.
class MARL_API CBaseStrategy {
public:
    CBaseStrategy(std::shared_ptr<IDevice> device, bool bare);

    virtual std::string GetStrategyVersion();
    virtual int GetLoginType();
    virtual std::string GetModuleName();
    virtual bool AfterInitFromDB();
    virtual bool IsNeedSyncTime();
    virtual bool RefreshChannel();
    virtual bool IsSupportTalk();
    virtual bool IsSupportChannelRefresh();
    virtual bool IsSupportPlayback();
    virtual bool IsAllowAutoLogin();
    virtual bool Login();
    virtual bool Logout();
    virtual bool OnGuard(int channelNo);
    virtual bool OffGuard(int channelNo);
    virtual bool UpdateAfterModifyDevice(std::shared_ptr<CBaseLoginParam> newParam);
    virtual bool CheckDeviceStatus();
    virtual std::vector<int> GetAllDevFunCapabilitySet();
    virtual std::vector<int> GetAllDevEventCapabilitySet();
    virtual bool OnChannelChanged(int channelType, int channelNo);
    virtual bool IsSupportDevEventCapability(int capability);
    virtual bool IsSupportDevFunCapability(int capability);

    virtual ~CBaseStrategy();

    std::shared_ptr<IDevice> GetDevicePtr() const { return m_device; }
    // The device's login parameters.
    std::shared_ptr<CBaseLoginParam> GetLoginParam() const;
    std::shared_ptr<CFeature> GetFeatureByType(int type) const;
    // Adds the feature to the host's device; false when that fails.
    bool AddFeature(std::shared_ptr<CFeature> feature);
    bool IsBare() const { return m_bare; }

private:
    std::shared_ptr<IDevice> m_device;
    bool m_bare;
};

class MARL_API CStrategy_Standard : public CBaseStrategy {
public:
    CStrategy_Standard(std::shared_ptr<IDevice> device, bool bare);
    ~CStrategy_Standard() override;
};

} // namespace dam
