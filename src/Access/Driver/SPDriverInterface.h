#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dam/DriverInterface.h"
#include "dam/LoginParamCreation.h"

namespace iobox {

// The plug-in's driver: serves device category 2005 with access protocol 101.
class CSPDriverInterface : public dam::CDriverInterface_Standard {
public:
    std::string GetDriverName() override;
    std::vector<int32_t> GetSupportDeviceCategories() override;
    std::vector<int32_t> GetSupportAccessProtocols(int32_t deviceCategory) override;
    std::vector<int32_t> GetAllAccessProtocols() override;
    std::shared_ptr<dam::CBaseStrategy> CreateStrategy(std::shared_ptr<dam::IDevice> device) override;
    std::shared_ptr<dam::CBaseStrategy> CreateBareStrategy(std::shared_ptr<dam::IDevice> device) override;
    bool IsDriverReady() override;

    std::shared_ptr<dam::CBaseStrategy> CreateStrategyByDevice(std::shared_ptr<dam::IDevice> device, bool bare);
};

// Makes the Modbus login parameters of an I/O box for the host.
class CIOBoxLoginParamFactory : public dam::IExtendLoginParamFactory {
public:
    std::shared_ptr<dam::CBaseLoginParam> CreateLoginParam(unsigned int category, unsigned int protocol) override;
};

} // namespace iobox
