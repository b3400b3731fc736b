// The entry points that the test build of the module has beyond the five: the connection
// manager's timings, so that tests through the loaded module need not wait the production
// ones, and containers grown in the module's code. The module the host loads has neither.
#include <cstdint>
#include <list>
#include <map>
#include <string>

#include "Common/Platform.h"
#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"

IOBOX_EXPORT void IoboxTestSetTiming(uint32_t pollPeriodMs, uint32_t connectSettleMs, uint32_t offlineRetrySeconds,
                                     int failedChecksBeforeOffline)
{
    iobox::ModbusTiming timing;
    timing.pollPeriodMs = pollPeriodMs;
    timing.connectSettleMs = connectSettleMs;
    timing.offlineRetrySeconds = offlineRetrySeconds;
    timing.failedChecksBeforeOffline = failedChecksBeforeOffline;
    iobox::CTCPConnMgr::Instance()->SetTiming(timing);
}

// Grows, shrinks and rewrites containers that the host made, in the module's own code: every
// allocation here is freed by the host and the reverse, and both read one another's layouts.
IOBOX_EXPORT void IoboxTestGrowHostContainers(std::string& text, std::list<std::string>& names,
                                              std::map<int, std::string>& byId)
{
    text += ", grown by the plug-in well past any small-string buffer";
    names.pop_front();
    names.push_back("plug-in 1");
    names.push_back("plug-in 2");
    byId.erase(0);
    for (int id = 1; id <= 3; ++id) {
        byId[id] = "plug-in entry " + std::to_string(id) + " with a name too long for the string itself";
    }
}
