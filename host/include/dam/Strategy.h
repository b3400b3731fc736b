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
// The slot order, and the results of the operations the host names or the plug-in answers with
// constants, are the host's; the names of the unnamed slots (2, 5, 7-10, 16, 19) and the
// parameters of 13-15, 17, 18, 20 and 21 are assumed.
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

    virtual ~CBaseStrategy(); // assumed: virtual, after the listed slots

    std::shared_ptr<IDevice> GetDevicePtr() const { return m_device; } // assumed: const, inline
    // The device's login parameters.
    std::shared_ptr<CBaseLoginParam> GetLoginParam() const;         // assumed: const
    std::shared_ptr<CFeature> GetFeatureByType(int type) const;     // assumed: const
    // Adds the feature to the host's device; false when that fails.
    bool AddFeature(std::shared_ptr<CFeature> feature);             // assumed: by value
    bool IsBare() const { return m_bare; }

private:
    std::shared_ptr<IDevice> m_device;
    bool m_bare;
};

class MARL_API CStrategy_Standard : public CBaseStrategy {
public:
    CStrategy_Standard(std::shared_ptr<IDevice> device, bool bare); // assumed: the device by value
    ~CStrategy_Standard() override;
};

} // namespace dam
