#pragma once
#include <memory>
#include <vector>

#include "EventManager/Event/DamEventMsg.h"
#include "EventManager/EventProcessManager.h"

namespace iobox {

// Turns one raw alarm record into the event messages for the host.
class CSPEventFactory {
public:
    // Empty when the record yields no event or a step fails; at most one message otherwise.
    static std::vector<std::shared_ptr<CSPDamEventMsg>> CreateEventMsg(std::shared_ptr<CModbusAlarmInputInfo> record);
};

} // namespace iobox
