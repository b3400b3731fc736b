#include "support/IOBoxDevice.h"

namespace testsupport {

std::shared_ptr<dam::CModbusLoginParam> ModbusParams(const IOBoxSpec& spec)
{
    auto param = std::make_shared<dam::CModbusLoginParam>();
    param->SetVal_access_protocol(spec.protocol);
    param->SetVal_company_type(spec.companyType);
    param->SetVal_str_alias(spec.name);
    param->SetVal_login_address(spec.address);
    param->SetVal_login_port(spec.port);
    param->SetVal_input_num(spec.inputs);
    param->SetVal_output_num(spec.outputs);
    param->SetVal_input_type(spec.inputType);
    return param;
}

std::shared_ptr<dam::CDevice> MakeIOBox(const IOBoxSpec& spec)
{
    dam::DeviceInfo info;
    info.id = spec.id;
    info.guid = spec.guid;
    info.category = spec.category;
    info.protocol = spec.protocol;
    info.name = spec.name;
    info.code = spec.code;
    info.loginParam = ModbusParams(spec);
    return std::make_shared<dam::CDevice>(info);
}

} // namespace testsupport
