#pragma once
#include <memory>
#include <vector>

#include "EventManager/Event/DamEventMsg.h"

namespace iobox {

// Hands finished event messages to the host's capacity manager, on the event worker thread.
class CSPEventNotifyMgr {
public:
    static void Notify(const std::shared_ptr<CSPDamEventMsg>& message);
    // Delivers the messages one by one in list order.
    static void Notify(const std::vector<std::shared_ptr<CSPDamEventMsg>>& messages);
};

} // namespace iobox
