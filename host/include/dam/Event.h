#pragma once
#include <string>

#include "Marl/Base/Export.h"

namespace dam {

// Time of an event and the time zone of the device that raised it.
// assumed: inline accessors, const getters, the types the host leaves open.
class MARL_API CEventTimeInfo {
public:
    virtual ~CEventTimeInfo();

    const std::string& GetUtcTime() const { return m_utcTime; }
    void SetUtcTime(const std::string& text) { m_utcTime = text; }
    int GetTimeDiffrence() const { return m_timeDifference; }
    void SetTimeDiffrence(int seconds) { m_timeDifference = seconds; }
    int GetTimeZoneBias() const { return m_timeZoneBias; }
    void SetTimeZoneBias(int minutes) { m_timeZoneBias = minutes; }
    const std::string& GetDaylightDate() const { return m_daylightDate; }
    void SetDaylightDate(const std::string& text) { m_daylightDate = text; }
    const std::string& GetStandardDate() const { return m_standardDate; }
    void SetStandardDate(const std::string& text) { m_standardDate = text; }
    int GetDaylightBias() const { return m_daylightBias; }
    void SetDaylightBias(int minutes) { m_daylightBias = minutes; }

private:
    std::string m_utcTime;
    int m_timeDifference = 0;
    int m_timeZoneBias = 0;
    std::string m_daylightDate;
    std::string m_standardDate;
    int m_daylightBias = 0;
};

// The host channel an event belongs to, and its area.
// assumed: inline accessors, const getters, the types.
class MARL_API CEventChannelInfo {
public:
    virtual ~CEventChannelInfo();

    unsigned int ChannelID() const { return m_channelId; }
    const std::string& ChannelName() const { return m_channelName; }
    int AreaID() const { return m_areaId; }
    const std::string& AreaName() const { return m_areaName; }
    void SetChannel(unsigned int id, const std::string& name) { m_channelId = id; m_channelName = name; }
    void SetArea(int id, const std::string& name) { m_areaId = id; m_areaName = name; }

private:
    unsigned int m_channelId = 0;
    std::string m_channelName;
    int m_areaId = -1;
    std::string m_areaName;
};

} // namespace dam
