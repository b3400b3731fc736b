// The one entry point that the test build of the module has beyond the five: the connection
// manager's timings, so that tests through the loaded module need not wait the production
// ones. The module the host loads never has it.
#include <cstdint>

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
