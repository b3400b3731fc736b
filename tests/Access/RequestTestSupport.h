#pragma once
// Shared set-up of the request reader and request handler tests.
#include <memory>
#include <string>
#include <vector>

#include "dam/Device.h"
#include "dam/LoginParamCreation.h"
#include "proto/RapidJsonProto.h"

namespace requesttest {

// Stands in for the plug-in's own factory, plus pairs that serve the wrong class:
// 2005/101 -> CModbusLoginParam, 2005/100 and 2004/101 -> CBaseLoginParam, others none.
class TestLoginParamFactory : public dam::IExtendLoginParamFactory {
public:
    std::shared_ptr<dam::CBaseLoginParam> CreateLoginParam(unsigned int category, unsigned int protocol) override;
};

// Empties the host's factory table and registers a TestLoginParamFactory.
void RegisterTestFactory();

// A document holding the JSON text; the parse must succeed.
std::unique_ptr<proto::CRapidJsonProto> Document(const std::string& json);

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

// Checks Modbus login parameters field by field. A modify request carries no offline flag and
// no sub-category, so for it those must keep their defaults whatever `fields` says.
void ExpectLoginFields(const dam::CBaseLoginParam& param, const Fields& fields, bool isModify,
                       const std::string& name);

// A host device of the I/O box category with the given identity (no feature, no channels).
struct DeviceDesc {
    int id = 1;
    std::string name;
    std::string serial;
    std::string searchText;
    int subCategory = 0;
    int category = 2005;
};
std::shared_ptr<dam::CDevice> MakeDevice(const DeviceDesc& desc);
std::shared_ptr<dam::CDevice> MakeNamedDevice(int id, const std::string& name, int category = 2005);

// Ids of the devices, in list order.
std::vector<int> Ids(const std::vector<std::shared_ptr<dam::IDevice>>& devices);

// A JSON string literal of the text (quotes and backslashes escaped).
std::string Quote(const std::string& text);

// The text of n UTF-8 characters, each two bytes long.
std::string NonAsciiText(std::size_t characters);

} // namespace requesttest
