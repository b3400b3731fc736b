#pragma once
// Whether periodic polls happened on time, from the moments each device's polls completed.
// Pure functions; all times in milliseconds on one clock.
#include <cstddef>
#include <vector>

namespace bench {

struct PollCheck {
    std::size_t devices = 0;
    std::size_t seen = 0;      // polls completed inside the window
    std::size_t expected = 0;  // polls a device keeping its period would have completed
    std::size_t missing = 0;   // sum over devices of expected polls that were not seen
    std::size_t intervals = 0; // intervals that ended inside the window
    std::size_t late = 0;      // intervals longer than period + allowance
    std::size_t early = 0;     // intervals shorter than the period (the pause was cut short)
    double maxLatenessMs = 0;  // longest interval minus the period
    double p99LatenessMs = 0;
    double minIntervalMs = 0;
};

// times[d] holds the completion moments of device d's polls in ascending order. A device's
// polls inside the window (start, end] are expected every periodMs after its last poll at or
// before the start (or after the start itself when it had none); the last expected one may
// end up to allowanceMs later than the period says and still be inside the window.
PollCheck CheckPolls(const std::vector<std::vector<double>>& times, double windowStartMs, double windowEndMs,
                     double periodMs, double allowanceMs);

} // namespace bench
