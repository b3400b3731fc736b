#pragma once
#include <ctime>
#include <string>

#include "Marl/Base/Export.h"

namespace Marl { namespace Base { namespace TimeUtil {

// "YYYY-MM-DDTHH:MM:SSZ"
MARL_API std::string TimeT2StrUTCDatetime(time_t t);
// "YYYY-MM-DD HH:MM:SS" in the process's time zone; bias = minutes east of UTC.
MARL_API bool TimeT2LocalTime(std::string& out, int& bias, time_t t); // assumed: bool result

}}} // namespace Marl::Base::TimeUtil
