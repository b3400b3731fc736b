#pragma once
// The host library's operating-system calls, in one place. Internal to the library.
#include <ctime>
#include <string>

namespace Marl { namespace Platform {

// Names the calling thread for debuggers and system tools, where the system keeps names.
void SetCurrentThreadName(const std::string& name);

// Wall-clock time now: seconds since the epoch and the milliseconds of that second.
void WallClockNow(time_t& seconds, int& milliseconds);

// Broken-down local and UTC time of t; false when the system cannot convert it.
bool LocalTime(time_t t, tm& local);
bool UtcTime(time_t t, tm& utc);

// Offset of local time from UTC at t in seconds, east positive (daylight saving included);
// local is LocalTime(t).
long UtcOffsetSeconds(time_t t, const tm& local);

}} // namespace Marl::Platform
