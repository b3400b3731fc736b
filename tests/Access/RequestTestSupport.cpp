#include "RequestTestSupport.h"

#include <gtest/gtest.h>

namespace requesttest {

std::shared_ptr<dam::CBaseLoginParam> TestLoginParamFactory::CreateLoginParam(unsigned int category,
                                                                              unsigned int protocol)
{
    if (category == 2005 && protocol == 101) {
        return std::make_shared<dam::CModbusLoginParam>();
    }
    if ((category == 2005 && protocol == 100) || (category == 2004 && protocol == 101)) {
        return std::make_shared<dam::CBaseLoginParam>();
    }
    return nullptr;
}

void RegisterTestFactory()
{
    dam::LoginParamCreation::Clear();
    dam::LoginParamCreation::RegisterExtendLoginParamFactory(std::make_shared<TestLoginParamFactory>());
}

std::unique_ptr<proto::CRapidJsonProto> Document(const std::string& json)
{
    auto document = std::make_unique<proto::CRapidJsonProto>();
    EXPECT_TRUE(document->set_str(json)) << json;
    return document;
}

void ExpectLoginFields(const dam::CBaseLoginParam& param, const Fields& f, bool isModify, const std::string& name)
{
    SCOPED_TRACE(name);
    EXPECT_EQ(param.GetVal_company_type(), f.companyType);
    EXPECT_EQ(param.GetVal_str_alias(), f.alias);
    EXPECT_EQ(param.GetVal_b_offline(), isModify ? false : f.offline);
    EXPECT_EQ(param.GetSubCategory(), isModify ? 0 : f.subCategory);
    const auto* modbus = dynamic_cast<const dam::CModbusLoginParam*>(&param);
    ASSERT_NE(modbus, nullptr);
    EXPECT_EQ(modbus->GetVal_login_address(), f.address);
    EXPECT_EQ(modbus->GetVal_login_port(), f.port);
    EXPECT_EQ(modbus->GetVal_input_num(), f.inputs);
    EXPECT_EQ(modbus->GetVal_output_num(), f.outputs);
    EXPECT_EQ(modbus->GetVal_input_type(), f.inputType);
}

std::shared_ptr<dam::CDevice> MakeDevice(const DeviceDesc& desc)
{
    dam::DeviceInfo info;
    info.id = desc.id;
    info.guid = "guid-" + std::to_string(desc.id);
    info.category = desc.category;
    info.protocol = 101;
    info.name = desc.name;
    info.serialNumber = desc.serial;
    info.searchText = desc.searchText;
    info.subCategory = desc.subCategory;
    return std::make_shared<dam::CDevice>(info);
}

std::shared_ptr<dam::CDevice> MakeNamedDevice(int id, const std::string& name, int category)
{
    DeviceDesc desc;
    desc.id = id;
    desc.name = name;
    desc.category = category;
    return MakeDevice(desc);
}

std::vector<int> Ids(const std::vector<std::shared_ptr<dam::IDevice>>& devices)
{
    std::vector<int> ids;
    for (const auto& device : devices) {
        ids.push_back(device ? device->GetDeviceID() : -1);
    }
    return ids;
}

std::string Quote(const std::string& text)
{
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

std::string NonAsciiText(std::size_t characters)
{
    std::string out;
    for (std::size_t i = 0; i < characters; ++i) {
        out += "\xC3\xA9"; // e with acute accent
    }
    return out;
}

} // namespace requesttest
