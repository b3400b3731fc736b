#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Marl/Base/Export.h"
#include "dam/Device.h"
#include "dam/Strategy.h"

namespace dam {

// A driver: what it serves and how it makes strategies.
class MARL_API CDriverInterface_Standard {
public:
    virtual std::string GetDriverName();
    virtual std::vector<int32_t> GetSupportDeviceCategories();
    virtual std::vector<int32_t> GetSupportAccessProtocols(int32_t deviceCategory);
    virtual std::vector<int32_t> GetAllAccessProtocols();
    virtual std::shared_ptr<CBaseStrategy> CreateStrategy(std::shared_ptr<IDevice> device);
    virtual std::shared_ptr<CBaseStrategy> CreateBareStrategy(std::shared_ptr<IDevice> device);
    virtual bool IsDriverReady();
    // assumed: the three operations the host has after these, and the destructor after them.
    virtual std::string GetDriverVersion();
    virtual bool IsSupportBatchLogin();
    virtual void OnDriverUnload();

    virtual ~CDriverInterface_Standard();
};

class MARL_API IDriverManager {
public:
    virtual bool RegisterDriver(std::shared_ptr<CDriverInterface_Standard> driver) = 0;
    virtual bool UnRegisterDriver(std::shared_ptr<CDriverInterface_Standard> driver) = 0;
    virtual std::shared_ptr<CDriverInterface_Standard> GetDriver(int32_t category, int32_t protocol) = 0; // assumed
    virtual ~IDriverManager(); // assumed
};

// The object the host hands a plug-in at Init.
class MARL_API IDriverInterfaceOperate {
public:
    virtual std::string GetHostVersion() = 0; // assumed: the host gives only that a first slot exists
    virtual std::shared_ptr<IDriverManager> GetDriverManager() = 0;
    virtual ~IDriverInterfaceOperate(); // assumed
};

// Host side: the registered drivers.
class MARL_API CDriverManager : public IDriverManager {
public:
    bool RegisterDriver(std::shared_ptr<CDriverInterface_Standard> driver) override;
    bool UnRegisterDriver(std::shared_ptr<CDriverInterface_Standard> driver) override;
    std::shared_ptr<CDriverInterface_Standard> GetDriver(int32_t category, int32_t protocol) override;

    std::vector<std::shared_ptr<CDriverInterface_Standard>> Drivers() const;
    void SetRefuseRegistration(bool refuse);
    void Clear();

private:
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<CDriverInterface_Standard>> m_drivers;
    bool m_refuse = false;
};

class MARL_API CDriverInterfaceOperate : public IDriverInterfaceOperate {
public:
    explicit CDriverInterfaceOperate(std::shared_ptr<IDriverManager> manager);
    std::string GetHostVersion() override;
    std::shared_ptr<IDriverManager> GetDriverManager() override;

private:
    std::shared_ptr<IDriverManager> m_manager;
};

} // namespace dam
