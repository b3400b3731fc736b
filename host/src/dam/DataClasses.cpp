#include "dam/Channel.h"
#include "dam/Event.h"
#include "dam/LoginParam.h"
#include "dam/Operation.h"

namespace dam {

CBaseLoginParam::~CBaseLoginParam() = default;
CModbusLoginParam::~CModbusLoginParam() = default;
CDeviceLoginData::~CDeviceLoginData() = default;

CChannelObj::~CChannelObj() = default;
CAlarmInputObj::~CAlarmInputObj() = default;
CAlarmOutputObj::~CAlarmOutputObj() = default;

CChannel::CChannel(unsigned int id, int type, std::string guid, int no, std::string name, bool online)
    : m_id(id), m_type(type), m_guid(std::move(guid)), m_no(no), m_name(std::move(name)), m_online(online)
{
}
CChannel::~CChannel() = default;
bool CChannel::IsOnline() const { return m_online; }

CAlarmInput::CAlarmInput(unsigned int id, int type, std::string guid, int no, std::string name, bool online,
                         int alarmInputType, int relatedChannelNo)
    : CChannel(id, type, std::move(guid), no, std::move(name), online),
      m_alarmInputType(alarmInputType),
      m_relatedChannelNo(relatedChannelNo)
{
}
CAlarmInput::~CAlarmInput() = default;

CAlarmOutput::CAlarmOutput(unsigned int id, int type, std::string guid, int no, std::string name, bool online,
                           int alarmOutputType)
    : CChannel(id, type, std::move(guid), no, std::move(name), online), m_alarmOutputType(alarmOutputType)
{
}
CAlarmOutput::~CAlarmOutput() = default;

CEventTimeInfo::~CEventTimeInfo() = default;
CEventChannelInfo::~CEventChannelInfo() = default;

CAlarmOutState::~CAlarmOutState() = default;
CAlarmOutputStatus::~CAlarmOutputStatus() = default;

} // namespace dam
