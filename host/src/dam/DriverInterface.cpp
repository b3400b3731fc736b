#include "dam/DriverInterface.h"

#include <algorithm>

namespace dam {

std::string CDriverInterface_Standard::GetDriverName() { return std::string(); }
std::vector<int32_t> CDriverInterface_Standard::GetSupportDeviceCategories() { return {}; }
std::vector<int32_t> CDriverInterface_Standard::GetSupportAccessProtocols(int32_t) { return {}; }
std::vector<int32_t> CDriverInterface_Standard::GetAllAccessProtocols() { return {}; }
std::shared_ptr<CBaseStrategy> CDriverInterface_Standard::CreateStrategy(std::shared_ptr<IDevice>) { return nullptr; }
std::shared_ptr<CBaseStrategy> CDriverInterface_Standard::CreateBareStrategy(std::shared_ptr<IDevice>)
{
    return nullptr;
}
bool CDriverInterface_Standard::IsDriverReady() { return false; }
std::string CDriverInterface_Standard::GetDriverVersion() { return "1.0"; }
bool CDriverInterface_Standard::IsSupportBatchLogin() { return false; }
void CDriverInterface_Standard::OnDriverUnload() {}
CDriverInterface_Standard::~CDriverInterface_Standard() = default;

IDriverManager::~IDriverManager() = default;
IDriverInterfaceOperate::~IDriverInterfaceOperate() = default;

bool CDriverManager::RegisterDriver(std::shared_ptr<CDriverInterface_Standard> driver)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_refuse || !driver || std::find(m_drivers.begin(), m_drivers.end(), driver) != m_drivers.end()) {
        return false;
    }
    m_drivers.push_back(std::move(driver));
    return true;
}

bool CDriverManager::UnRegisterDriver(std::shared_ptr<CDriverInterface_Standard> driver)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = std::find(m_drivers.begin(), m_drivers.end(), driver);
    if (it == m_drivers.end()) {
        return false;
    }
    m_drivers.erase(it);
    return true;
}

std::shared_ptr<CDriverInterface_Standard> CDriverManager::GetDriver(int32_t category, int32_t protocol)
{
    std::vector<std::shared_ptr<CDriverInterface_Standard>> drivers = Drivers();
    // The driver's own answers are asked outside the lock: they are plug-in code.
    for (const auto& driver : drivers) {
        const auto protocols = driver->GetSupportAccessProtocols(category);
        if (std::find(protocols.begin(), protocols.end(), protocol) != protocols.end()) {
            return driver;
        }
    }
    return nullptr;
}

std::vector<std::shared_ptr<CDriverInterface_Standard>> CDriverManager::Drivers() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_drivers;
}

void CDriverManager::SetRefuseRegistration(bool refuse)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refuse = refuse;
}

void CDriverManager::Clear()
{
    std::vector<std::shared_ptr<CDriverInterface_Standard>> drivers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        drivers.swap(m_drivers);
    }
}

CDriverInterfaceOperate::CDriverInterfaceOperate(std::shared_ptr<IDriverManager> manager)
    : m_manager(std::move(manager))
{
}
std::string CDriverInterfaceOperate::GetHostVersion() { return "stand-in 1.0"; }
std::shared_ptr<IDriverManager> CDriverInterfaceOperate::GetDriverManager() { return m_manager; }

} // namespace dam
