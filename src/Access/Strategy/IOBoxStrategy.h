#pragma once
#include <memory>
#include <string>
#include <vector>

#include "dam/LoginParam.h"
#include "dam/Strategy.h"

namespace iobox {

// The host's strategy for one I/O box: restore from the database, log in (the Modbus
// connection opens and polls), build the alarm channels, log out.
class CIOBoxStrategy : public dam::CStrategy_Standard {
public:
    CIOBoxStrategy(std::shared_ptr<dam::IDevice> device, bool bare);
    ~CIOBoxStrategy() override;

    std::string GetStrategyVersion() override;
    int GetLoginType() override;
    std::string GetModuleName() override;
    bool AfterInitFromDB() override;
    bool IsNeedSyncTime() override;
    bool RefreshChannel() override;
    bool IsSupportTalk() override;
    bool IsSupportChannelRefresh() override;
    bool IsSupportPlayback() override;
    bool IsAllowAutoLogin() override;
    bool Login() override;
    bool Logout() override;
    bool CheckDeviceStatus() override;
    bool OnChannelChanged(int channelType, int channelNo) override;

    bool AfterLogin(std::shared_ptr<dam::CDeviceLoginData> loginData);
};

} // namespace iobox
