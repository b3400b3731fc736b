#pragma once
#include <memory>
#include <vector>

#include "Common/LazySingleton.h"
#include "Communication/CommunicationBase.h"
#include "dam/Operation.h"

namespace iobox {

// What the host asks of an I/O box beyond login: read all alarm outputs, switch one.
class CIOBoxCommonOperaion : public dam::CCommonOperationInterface_Standard {
public:
    bool GetAlarmOutputStatus(std::vector<std::shared_ptr<dam::CAlarmOutputStatus>>& statuses,
                              std::shared_ptr<dam::IDevice> device) override;
    bool SetAlarmOutStatus(unsigned int alarmOutputId, unsigned int status, std::shared_ptr<dam::IDevice> device) override;
};

// Maps between the host's alarm output channel ids and the device's 1-based output numbers.
class CIOBoxOperationImp {
public:
    static CIOBoxOperationImp* Instance();

    bool GetAlarmOutputStatus(std::vector<std::shared_ptr<dam::CAlarmOutputStatus>>& statuses,
                              std::shared_ptr<dam::IDevice> device);
    bool SetAlarmOutStatus(unsigned int alarmOutputId, unsigned int status, std::shared_ptr<dam::IDevice> device);
    void MakeAlarmOutputStatus(std::vector<dam::AlarmOutputStatus>& out, const AlarmOutStateMap& states, int channelType,
                               std::shared_ptr<dam::IDevice> device);

private:
    friend class LazySingleton<CIOBoxOperationImp>;
    CIOBoxOperationImp() = default;
};

} // namespace iobox
