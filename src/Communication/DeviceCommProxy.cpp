#include "Communication/DeviceCommProxy.h"

#include "Communication/ModbusComm/ModbusComm.h"

namespace iobox {

CSPDeviceCommProxy::CSPDeviceCommProxy(int protocol)
{
    if (protocol == kAccessProtocolModbus) {
        m_comm = std::make_shared<CModubsComm>();
    } else {
        IOBOX_LOG(5, "iobox::CSPDeviceCommProxy::CSPDeviceCommProxy", "int:%d error!", protocol);
    }
}

// A proxy without an object is never handed out (only protocol 101 is registered); should
// one be, its requests fail as unsupported instead of crashing.
bool CSPDeviceCommProxy::Request_loginData(std::shared_ptr<dam::CDeviceLoginData>& loginData,
                                           std::shared_ptr<dam::CBaseLoginParam>& loginParam,
                                           std::shared_ptr<dam::IDevice> device)
{
    return m_comm && m_comm->Request_loginData(loginData, loginParam, device);
}

bool CSPDeviceCommProxy::Request_Logout(std::shared_ptr<dam::IDevice> device)
{
    return m_comm && m_comm->Request_Logout(device);
}

bool CSPDeviceCommProxy::Request_GetAlarmOutState(AlarmOutStateMap& states, std::shared_ptr<dam::IDevice> device)
{
    return m_comm && m_comm->Request_GetAlarmOutState(states, device);
}

bool CSPDeviceCommProxy::Request_SetAlarmOutState(unsigned int state, unsigned int outputNo,
                                                  std::shared_ptr<dam::IDevice> device)
{
    return m_comm && m_comm->Request_SetAlarmOutState(state, outputNo, device);
}

} // namespace iobox
