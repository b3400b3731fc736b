#pragma once
#include <map>
#include <memory>
#include <vector>

#include "Common/Error.h"
#include "Common/Log.h"
#include "dam/Channel.h"
#include "dam/Device.h"
#include "dam/LoginParam.h"
#include "dam/Operation.h"
#include "quovix/QuovixSdk.h"

namespace iobox {

using AlarmOutStateMap = std::map<unsigned int, std::shared_ptr<dam::CAlarmOutState>>;

// The six device requests of one access protocol. Every request is refused unless a protocol's
// object implements it. Objects are created as shared pointers of their concrete class and
// never deleted through this base, so it has no virtual destructor.
class CCommunicationBase {
public:
    virtual bool Request_loginData(std::shared_ptr<dam::CDeviceLoginData>& loginData,
                                   std::shared_ptr<dam::CBaseLoginParam>& loginParam,
                                   std::shared_ptr<dam::IDevice> device)
    {
        (void)loginData, (void)loginParam, (void)device;
        return Refuse("iobox::CCommunicationBase::Request_loginData");
    }
    virtual bool Request_Logout(std::shared_ptr<dam::IDevice> device)
    {
        (void)device;
        return Refuse("iobox::CCommunicationBase::Request_Logout");
    }
    virtual bool Request_GetAlarmInputs(std::vector<std::shared_ptr<dam::CAlarmInputObj>>& inputs,
                                        std::shared_ptr<dam::IDevice> device)
    {
        (void)inputs, (void)device;
        return Refuse("iobox::CCommunicationBase::Request_GetAlarmInputs");
    }
    virtual bool Request_GetAlarmOutputs(std::vector<std::shared_ptr<dam::CAlarmOutputObj>>& outputs,
                                         std::shared_ptr<dam::IDevice> device)
    {
        (void)outputs, (void)device;
        return Refuse("iobox::CCommunicationBase::Request_GetAlarmOutputs");
    }
    virtual bool Request_GetAlarmOutState(AlarmOutStateMap& states, std::shared_ptr<dam::IDevice> device)
    {
        (void)states, (void)device;
        return Refuse("iobox::CCommunicationBase::Request_GetAlarmOutState");
    }
    virtual bool Request_SetAlarmOutState(unsigned int state, unsigned int outputNo, std::shared_ptr<dam::IDevice> device)
    {
        (void)state, (void)outputNo, (void)device;
        return Refuse("iobox::CCommunicationBase::Request_SetAlarmOutState");
    }

protected:
    CCommunicationBase() = default;
    ~CCommunicationBase() = default;

private:
    static bool Refuse(const char* function)
    {
        IOBOX_LOG_AS("iobox", 5, function,
                     "Communication error,error info=%s, error mode = %d,error code=%d,quovix_last_err:%d ",
                     "Operation Not Support", kErrorModule, kErrorNotSupported, Quovix_GetLastError());
        SetError(kErrorNotSupported);
        return false;
    }
};

} // namespace iobox
