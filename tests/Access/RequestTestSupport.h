#pragma once
// Shared set-up of the request reader and request handler tests.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "dam/LoginParamCreation.h"
#include "proto/RapidJsonProto.h"

namespace requesttest {

// Stands in for the plug-in's own factory, plus pairs that serve the wrong class:
// 2005/101 -> CModbusLoginParam, 2005/100 and 2004/101 -> CBaseLoginParam, others none.
class TestLoginParamFactory : public dam::IExtendLoginParamFactory {
public:
    std::shared_ptr<dam::CBaseLoginParam> CreateLoginParam(unsigned int category, unsigned int protocol) override
    {
        if (category == 2005 && protocol == 101) {
            return std::make_shared<dam::CModbusLoginParam>();
        }
        if ((category == 2005 && protocol == 100) || (category == 2004 && protocol == 101)) {
            return std::make_shared<dam::CBaseLoginParam>();
        }
        return nullptr;
    }
};

inline void RegisterTestFactory()
{
    dam::LoginParamCreation::Clear();
    dam::LoginParamCreation::RegisterExtendLoginParamFactory(std::make_shared<TestLoginParamFactory>());
}

inline std::unique_ptr<proto::CRapidJsonProto> Document(const std::string& json)
{
    auto document = std::make_unique<proto::CRapidJsonProto>();
    EXPECT_TRUE(document->set_str(json)) << json;
    return document;
}

// Login parameters a Modbus request reads into.
struct Fields {
    int companyType;
    std::string alias;
    bool offline;
    int subCategory;
    std::string address;
    unsigned int port;
    int inputs;
    int outputs;
    int inputType;
};

// A modify request carries no offline flag and no sub-category: for it those keep their defaults.
inline void ExpectLoginFields(const dam::CBaseLoginParam& param, const Fields& f, bool isModify)
{
    EXPECT_EQ(param.GetVal_access_protocol(), 101);
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

// A JSON string literal of the text (quotes and backslashes escaped).
inline std::string Quote(const std::string& text)
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

// The text of n UTF-8 characters, each two bytes long.
inline std::string NonAsciiText(std::size_t characters)
{
    std::string out;
    for (std::size_t i = 0; i < characters; ++i) {
        out += "\xC3\xA9";
    }
    return out;
}

} // namespace requesttest
