#include "PollTiming.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "Stats.h"

namespace bench {

PollCheck CheckPolls(const std::vector<std::vector<double>>& times, double windowStartMs, double windowEndMs,
                     double periodMs, double allowanceMs)
{
    PollCheck check;
    check.devices = times.size();
    std::vector<double> lateness;
    double minInterval = std::numeric_limits<double>::infinity();
    for (const auto& polls : times) {
        // The last poll at or before the window's start anchors the expected ones.
        const auto firstInside = std::upper_bound(polls.begin(), polls.end(), windowStartMs);
        const bool anchored = firstInside != polls.begin();
        const double anchor = anchored ? *(firstInside - 1) : windowStartMs;
        const double room = windowEndMs - allowanceMs - anchor;
        const std::size_t expected = room >= periodMs ? static_cast<std::size_t>(std::floor(room / periodMs)) : 0;
        const auto lastInside = std::upper_bound(firstInside, polls.end(), windowEndMs);
        const std::size_t seen = static_cast<std::size_t>(lastInside - firstInside);
        check.seen += seen;
        check.expected += expected;
        check.missing += expected > seen ? expected - seen : 0;
        for (auto it = firstInside; it != lastInside; ++it) {
            if (it == polls.begin()) {
                continue; // nothing before it to measure from
            }
            const double interval = *it - *(it - 1);
            ++check.intervals;
            minInterval = std::min(minInterval, interval);
            lateness.push_back(interval - periodMs);
            if (interval > periodMs + allowanceMs) {
                ++check.late;
            }
            if (interval < periodMs) {
                ++check.early;
            }
        }
    }
    if (!lateness.empty()) {
        check.maxLatenessMs = *std::max_element(lateness.begin(), lateness.end());
        check.p99LatenessMs = Percentile(lateness, 0.99);
        check.minIntervalMs = minInterval;
    }
    return check;
}

} // namespace bench
