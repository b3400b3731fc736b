#pragma once
#include <memory>
#include <string>
#include <vector>

#include "Marl/Base/Export.h"
#include "dam/Property.h"

namespace dam {

// A channel as a driver describes it before the host registers it.
// assumed: the accessors' types, and inline accessors by const reference (dam/Property.h).
class MARL_API CChannelObj {
public:
    virtual ~CChannelObj();

    DAM_PROPERTY(int, no)
    DAM_PROPERTY(int, channel_type)
    DAM_PROPERTY(std::string, name)
    DAM_PROPERTY(bool, online)
    DAM_PROPERTY(bool, enable)
};

class MARL_API CAlarmInputObj : public CChannelObj {
public:
    ~CAlarmInputObj() override;
};

class MARL_API CAlarmOutputObj : public CChannelObj {
public:
    ~CAlarmOutputObj() override;
};

// Channel objects on their way between a feature and the host.
class MARL_API CChannelCache {
public:
    void Add(std::shared_ptr<CChannelObj> obj) { m_objects.push_back(std::move(obj)); }
    const std::vector<std::shared_ptr<CChannelObj>>& Objects() const { return m_objects; }
    void Clear() { m_objects.clear(); }

private:
    std::vector<std::shared_ptr<CChannelObj>> m_objects;
};

// A channel registered in the host, with the host's id.
// assumed: const and inline getters, the result types the host leaves open.
class MARL_API CChannel {
public:
    CChannel(unsigned int id, int type, std::string guid, int no, std::string name, bool online);
    virtual ~CChannel();

    unsigned int GetID() const { return m_id; }
    int GetType() const { return m_type; }
    bool IsType(int type) const { return m_type == type; }
    const std::string& GetGuid() const { return m_guid; }
    int GetNo() const { return m_no; }
    const std::string& GetName() const { return m_name; }
    virtual bool IsOnline() const;

private:
    unsigned int m_id;
    int m_type;
    std::string m_guid;
    int m_no;
    std::string m_name;
    bool m_online;
};

class MARL_API CAlarmInput : public CChannel {
public:
    CAlarmInput(unsigned int id, int type, std::string guid, int no, std::string name, bool online,
                int alarmInputType = 0, int relatedChannelNo = -1);
    ~CAlarmInput() override;
    int GetAlarmInputType() const { return m_alarmInputType; }
    int GetRelatedChannelNo() const { return m_relatedChannelNo; }

private:
    int m_alarmInputType;
    int m_relatedChannelNo;
};

class MARL_API CAlarmOutput : public CChannel {
public:
    CAlarmOutput(unsigned int id, int type, std::string guid, int no, std::string name, bool online,
                 int alarmOutputType = 0);
    ~CAlarmOutput() override;
    int GetAlarmOutputType() const { return m_alarmOutputType; }

private:
    int m_alarmOutputType;
};

} // namespace dam
