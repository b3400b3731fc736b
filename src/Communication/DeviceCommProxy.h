#pragma once
#include <memory>
#include <vector>

#include "Communication/CommunicationBase.h"

namespace iobox {

// Forwards a device's requests to the communication object of its access protocol.
class CSPDeviceCommProxy {
public:
    explicit CSPDeviceCommProxy(int protocol);

    bool Request_loginData(std::shared_ptr<dam::CDeviceLoginData>& loginData,
                           std::shared_ptr<dam::CBaseLoginParam>& loginParam, std::shared_ptr<dam::IDevice> device);
    bool Request_Logout(std::shared_ptr<dam::IDevice> device);
    bool Request_GetAlarmOutState(AlarmOutStateMap& states, std::shared_ptr<dam::IDevice> device);
    bool Request_SetAlarmOutState(unsigned int state, unsigned int outputNo, std::shared_ptr<dam::IDevice> device);

    bool HasComm() const { return m_comm != nullptr; }

private:
    std::shared_ptr<CCommunicationBase> m_comm;
};

} // namespace iobox
