#pragma once
// Every timing of the plug-in's behaviour, in one place.
#include <cstdint>

#include "Common/Platform.h"

namespace iobox {

constexpr uint32_t kPollPeriodMs = 5000;          // pause between two input polls of a device
constexpr uint32_t kConnectSettleMs = 1000;       // wait after a connect before the first use
constexpr uint32_t kOfflineRetrySeconds = 15;     // wait between reconnect attempts while offline
constexpr int kFailedChecksBeforeOffline = 3;     // consecutive failed checks that make a device offline
constexpr uint32_t kDefaultNetworkTimeoutMs = 10000; // connect, send and receive time-outs
constexpr uint64_t kSlowShutdownStepMs = 50;      // a shutdown step slower than this is reported
// Longest wait for one of the plug-in's threads to end at a logout or at Unit. The poll's
// blocking calls are cut short by the stop, so a thread still running after it is stuck (a
// host call that does not return); it is reported and left to end by itself.
constexpr uint32_t kThreadEndDeadlineMs = 3000;

// Timings of one Modbus connection. Production code always uses the defaults; tests and
// benchmarks shorten them through the connection manager.
struct ModbusTiming {
    uint32_t pollPeriodMs = kPollPeriodMs;
    uint32_t connectSettleMs = kConnectSettleMs;
    uint32_t offlineRetrySeconds = kOfflineRetrySeconds;
    int failedChecksBeforeOffline = kFailedChecksBeforeOffline;
    // Monotonic milliseconds that the offline retry is measured on: a wall clock set back
    // must not hold an offline device off.
    uint64_t (*tick)() = &platform::TickCount64;
};

} // namespace iobox
