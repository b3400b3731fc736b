#pragma once
#include <memory>
#include <string>

#include "dam/Device.h"
#include "dam/LoginParam.h"

namespace testsupport {

// What the host knows of an I/O box it is about to log in.
struct IOBoxSetup {
    int id = 1;
    std::string guid = "GUID-0001";
    std::string name = "box";
    std::string code = "code-1";
    int category = 2005;
    int protocol = 101;
    std::string address = "127.0.0.1";
    unsigned int port = 0;
    int inputs = 12;
    int outputs = 6;
    int inputType = 0;
    int companyType = 0;
};

std::shared_ptr<dam::CModbusLoginParam> ModbusParams(const IOBoxSetup& setup);
// A host device with Modbus login parameters and no feature yet.
std::shared_ptr<dam::CDevice> MakeIOBox(const IOBoxSetup& setup);

} // namespace testsupport
