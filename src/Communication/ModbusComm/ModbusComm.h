#pragma once
#include "Communication/CommunicationBase.h"

namespace iobox {

// The six device requests for Modbus TCP I/O boxes, on the connection manager. Stateless: one
// object serves every Modbus device. Final: it is destroyed as itself (the base's destructor is
// not virtual), so nothing may derive from it.
class CModubsComm final : public CCommunicationBase {
public:
    bool Request_loginData(std::shared_ptr<dam::CDeviceLoginData>& loginData,
                           std::shared_ptr<dam::CBaseLoginParam>& loginParam,
                           std::shared_ptr<dam::IDevice> device) override;
    bool Request_Logout(std::shared_ptr<dam::IDevice> device) override;
    bool Request_GetAlarmInputs(std::vector<std::shared_ptr<dam::CAlarmInputObj>>& inputs,
                                std::shared_ptr<dam::IDevice> device) override;
    bool Request_GetAlarmOutputs(std::vector<std::shared_ptr<dam::CAlarmOutputObj>>& outputs,
                                 std::shared_ptr<dam::IDevice> device) override;
    bool Request_GetAlarmOutState(AlarmOutStateMap& states, std::shared_ptr<dam::IDevice> device) override;
    bool Request_SetAlarmOutState(unsigned int state, unsigned int outputNo, std::shared_ptr<dam::IDevice> device) override;
};

} // namespace iobox
