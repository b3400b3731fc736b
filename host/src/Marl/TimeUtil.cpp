#include "Marl/Base/TimeUtil.h"

#include "Platform/HostPlatform.h"

namespace Marl { namespace Base { namespace TimeUtil {

std::string TimeT2StrUTCDatetime(time_t t)
{
    tm utc{};
    if (!Platform::UtcTime(t, utc)) {
        return std::string();
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

bool TimeT2LocalTime(std::string& out, int& bias, time_t t)
{
    tm local{};
    if (!Platform::LocalTime(t, local)) {
        return false;
    }
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    out = text;
    bias = static_cast<int>(Platform::UtcOffsetSeconds(t, local) / 60);
    return true;
}

}}} // namespace Marl::Base::TimeUtil
