#include "Communication/ModbusComm/ModbusComm.h"

#include "Common/Error.h"
#include "Communication/ModbusComm/TCP/TCPClient.h"
#include "Communication/ModbusComm/TCPConnManager/ModbusTCPConn.h"
#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"

namespace iobox {

namespace {

// The device's live connection, or empty with the error set: 907 when the device is not
// logged in, 2 when its handle has no connection.
std::shared_ptr<CModbusTCPConn> ConnectionOf(const std::shared_ptr<dam::IDevice>& device)
{
    const int handle = device ? device->GetDeviceHandle() : -1;
    if (handle < 0) {
        SetError(kErrorNotLoggedIn);
        return nullptr;
    }
    auto conn = CTCPConnMgr::Instance()->GetConn(handle);
    if (!conn) {
        SetError(kErrorRequestUnusable);
    }
    return conn;
}

} // namespace

bool CModubsComm::Request_loginData(std::shared_ptr<dam::CDeviceLoginData>& loginData,
                                    std::shared_ptr<dam::CBaseLoginParam>& loginParam,
                                    std::shared_ptr<dam::IDevice> device)
{
    auto modbus = std::dynamic_pointer_cast<dam::CModbusLoginParam>(loginParam);
    if (!modbus || !loginData || !device) {
        return false;
    }
    Marl::Net::TcpConnectParam param;
    param.ip = loginParam->GetVal_login_address();
    param.port = static_cast<uint16_t>(loginParam->GetVal_login_port());
    param.tls = false;

    const int handle = CTCPConnMgr::Instance()->RequestLogin(param, modbus->GetVal_input_num(), modbus->GetVal_output_num(),
                                                             modbus->GetVal_input_type(), modbus->GetVal_company_type());
    if (handle < 0) {
        SetError(kErrorExchangeFailed);
        return false;
    }
    const int deviceHandle = device->MapLoginHandle(handle);
    loginData->SetVal_device_handle(deviceHandle);
    loginData->SetVal_str_ip_address(loginParam->GetVal_login_address());
    loginData->SetVal_u_port(loginParam->GetVal_login_port());

    DeviceGuidInfo record;
    record.guid = device->GetDeviceGuid();
    record.deviceId = deviceHandle;
    CTCPConnMgr::Instance()->SaveAdamDeviceGuid(handle, record);
    return true;
}

bool CModubsComm::Request_Logout(std::shared_ptr<dam::IDevice> device)
{
    if (!device) {
        return false;
    }
    CTCPConnMgr::Instance()->Logout(device->GetDeviceHandle());
    device->ResetDeviceHandle();
    return true;
}

bool CModubsComm::Request_GetAlarmInputs(std::vector<std::shared_ptr<dam::CAlarmInputObj>>& inputs,
                                         std::shared_ptr<dam::IDevice> device)
{
    auto conn = ConnectionOf(device);
    if (!conn) {
        return false;
    }
    if (!conn->GetAlarmInputChannels(inputs)) {
        SetError(kErrorRequestUnusable);
        return false;
    }
    return true;
}

bool CModubsComm::Request_GetAlarmOutputs(std::vector<std::shared_ptr<dam::CAlarmOutputObj>>& outputs,
                                          std::shared_ptr<dam::IDevice> device)
{
    auto conn = ConnectionOf(device);
    if (!conn) {
        return false;
    }
    if (!conn->GetAlarmOutputChannels(outputs)) {
        SetError(kErrorRequestUnusable);
        return false;
    }
    return true;
}

bool CModubsComm::Request_GetAlarmOutState(AlarmOutStateMap& states, std::shared_ptr<dam::IDevice> device)
{
    auto conn = ConnectionOf(device);
    return conn && conn->AlarmHostRequest_GetAlarmOutputStatus(states);
}

bool CModubsComm::Request_SetAlarmOutState(unsigned int state, unsigned int outputNo,
                                           std::shared_ptr<dam::IDevice> device)
{
    auto conn = ConnectionOf(device);
    return conn && conn->AlarmHostRequest_AlarmOutputControl(static_cast<int>(state), static_cast<int>(outputNo));
}

} // namespace iobox
