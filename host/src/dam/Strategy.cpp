#include "dam/Strategy.h"

namespace dam {

CBaseStrategy::CBaseStrategy(std::shared_ptr<IDevice> device, bool bare) : m_device(std::move(device)), m_bare(bare) {}
CBaseStrategy::~CBaseStrategy() = default;

std::string CBaseStrategy::GetStrategyVersion() { return "1.0.0"; }
int CBaseStrategy::GetLoginType() { return 0; }
std::string CBaseStrategy::GetModuleName() { return std::string(); }
bool CBaseStrategy::AfterInitFromDB() { return true; }
bool CBaseStrategy::IsNeedSyncTime() { return false; }
bool CBaseStrategy::RefreshChannel() { return false; }
bool CBaseStrategy::IsSupportTalk() { return false; }
bool CBaseStrategy::IsSupportChannelRefresh() { return false; }
bool CBaseStrategy::IsSupportPlayback() { return false; }
bool CBaseStrategy::IsAllowAutoLogin() { return false; }
bool CBaseStrategy::Login() { return false; }
bool CBaseStrategy::Logout() { return false; }
bool CBaseStrategy::OnGuard(int) { return false; }
bool CBaseStrategy::OffGuard(int) { return false; }
bool CBaseStrategy::UpdateAfterModifyDevice(std::shared_ptr<CBaseLoginParam>) { return true; }
bool CBaseStrategy::CheckDeviceStatus() { return false; }
std::vector<int> CBaseStrategy::GetAllDevFunCapabilitySet() { return {}; }
std::vector<int> CBaseStrategy::GetAllDevEventCapabilitySet() { return {}; }
bool CBaseStrategy::OnChannelChanged(int, int) { return false; }
bool CBaseStrategy::IsSupportDevEventCapability(int) { return false; }
bool CBaseStrategy::IsSupportDevFunCapability(int) { return false; }

std::shared_ptr<CBaseLoginParam> CBaseStrategy::GetLoginParam() const
{
    return m_device ? m_device->GetDeviceLoginParam() : nullptr;
}

std::shared_ptr<CFeature> CBaseStrategy::GetFeatureByType(int type) const
{
    return m_device ? m_device->GetFeature(type) : nullptr;
}

bool CBaseStrategy::AddFeature(std::shared_ptr<CFeature> feature)
{
    auto device = std::dynamic_pointer_cast<CDevice>(m_device);
    return device && device->AddFeature(std::move(feature));
}

CStrategy_Standard::CStrategy_Standard(std::shared_ptr<IDevice> device, bool bare)
    : CBaseStrategy(std::move(device), bare)
{
}
CStrategy_Standard::~CStrategy_Standard() = default;

} // namespace dam
