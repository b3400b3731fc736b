#include "support/IOBoxDevice.h"

namespace testsupport {

std::shared_ptr<dam::CModbusLoginParam> ModbusParams(const IOBoxSetup& setup)
{
    auto param = std::make_shared<dam::CModbusLoginParam>();
    param->SetVal_access_protocol(setup.protocol);
    param->SetVal_company_type(setup.companyType);
    param->SetVal_str_alias(setup.name);
    param->SetVal_login_address(setup.address);
    param->SetVal_login_port(setup.port);
    param->SetVal_input_num(setup.inputs);
    param->SetVal_output_num(setup.outputs);
    param->SetVal_input_type(setup.inputType);
    return param;
}

std::shared_ptr<dam::CDevice> MakeIOBox(const IOBoxSetup& setup)
{
    dam::DeviceInfo info;
    info.id = setup.id;
    info.guid = setup.guid;
    info.category = setup.category;
    info.protocol = setup.protocol;
    info.name = setup.name;
    info.code = setup.code;
    info.loginParam = ModbusParams(setup);
    return std::make_shared<dam::CDevice>(info);
}

} // namespace testsupport
