#include "Access/Driver/SPDriverInterface.h"

#include "Access/Strategy/IOBoxStrategy.h"
#include "Common/Constants.h"
#include "Common/Log.h"

namespace iobox {

std::string CSPDriverInterface::GetDriverName() { return "iobox.d"; }

std::vector<int32_t> CSPDriverInterface::GetSupportDeviceCategories() { return {kDeviceCategoryIOBox}; }

std::vector<int32_t> CSPDriverInterface::GetSupportAccessProtocols(int32_t deviceCategory)
{
    if (deviceCategory == kDeviceCategoryIOBox) {
        return {kAccessProtocolModbus};
    }
    return {};
}

std::vector<int32_t> CSPDriverInterface::GetAllAccessProtocols() { return {kAccessProtocolModbus}; }

std::shared_ptr<dam::CBaseStrategy> CSPDriverInterface::CreateStrategy(std::shared_ptr<dam::IDevice> device)
{
    return CreateStrategyByDevice(std::move(device), false);
}

std::shared_ptr<dam::CBaseStrategy> CSPDriverInterface::CreateBareStrategy(std::shared_ptr<dam::IDevice> device)
{
    return CreateStrategyByDevice(std::move(device), true);
}

bool CSPDriverInterface::IsDriverReady() { return true; }

std::shared_ptr<dam::CBaseStrategy> CSPDriverInterface::CreateStrategyByDevice(std::shared_ptr<dam::IDevice> device,
                                                                              bool bare)
{
    if (!device) {
        IOBOX_LOG(5, "iobox::CSPDriverInterface::CreateStrategyByDevice", "Device point is null!");
        return nullptr;
    }
    if (device->GetDeviceCategory() == kDeviceCategoryIOBox && device->GetAccessProtocol() == kAccessProtocolModbus) {
        return std::make_shared<CIOBoxStrategy>(device, bare);
    }
    return nullptr;
}

std::shared_ptr<dam::CBaseLoginParam> CIOBoxLoginParamFactory::CreateLoginParam(unsigned int category,
                                                                               unsigned int protocol)
{
    if (category == static_cast<unsigned int>(kDeviceCategoryIOBox) &&
        protocol == static_cast<unsigned int>(kAccessProtocolModbus)) {
        return std::make_shared<dam::CModbusLoginParam>();
    }
    return nullptr;
}

} // namespace iobox
