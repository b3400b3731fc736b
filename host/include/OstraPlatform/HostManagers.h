#pragma once
// The stand-in host's own platform managers: what the real platform does, reduced to what a
// plug-in can observe, with switches that let tests and the emulated host provoke failures.
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "OstraPlatform/Managers.h"
#include "dam/Device.h"

namespace OstraPlatform {

class CAreaManager;

class MARL_API CDeviceManager : public IDeviceManager {
public:
    struct StatusRecord {
        unsigned int msgType;
        int deviceId;
        int statusCode;
    };
    using StatusObserver = std::function<void(const StatusRecord&)>;
    // A device's time zone as the host reports it with an event.
    struct TimeZone {
        int timeDifference = 0; // seconds east of UTC
        int bias = 0;           // minutes to add to local standard time for UTC
        std::string daylightDate;
        std::string standardDate;
        int daylightBias = 0;
    };

    std::shared_ptr<dam::IDevice> GetDevice(unsigned int deviceId, int category) override;
    std::shared_ptr<dam::IDevice> GetDeviceByGuid(const std::string& guid) override;
    bool DeleteDeviceByID(unsigned int deviceId, int category) override;
    // Finds the device's channel of that type and number; the area comes from the area manager
    // of the interface manager when it has one (else -1 and the empty text).
    bool GetEventRelatedChannel(std::shared_ptr<dam::CEventChannelInfo>& info, std::shared_ptr<dam::IDevice> device,
                                int channelType, int channelNo) override;
    // Time-zone values of the process's time zone, or of the zone given to SetTimeZone.
    bool GetEventTimeInfo(std::shared_ptr<dam::CEventTimeInfo>& info, std::shared_ptr<dam::IDevice> device,
                          time_t time) override;
    bool IsDebugMode() override;
    // Records the notification and marks the device (found by its device handle) on- or offline.
    bool NotifyDeviceStatus(unsigned int msgType, const void* message) override;

    void AddDevice(std::shared_ptr<dam::IDevice> device);
    std::vector<std::shared_ptr<dam::IDevice>> Devices() const;
    std::vector<StatusRecord> StatusNotifications() const;
    void SetStatusObserver(StatusObserver observer);
    void SetDebugMode(bool on);
    void SetFailTimeInfo(bool fail);
    // Every device in this zone instead of the process's, whatever the system's zone is;
    // empty: the process's zone again.
    void SetTimeZone(std::optional<TimeZone> zone);
    void SetFailDelete(unsigned int deviceId, bool fail);

private:
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<dam::IDevice>> m_devices;
    // The first device added with each guid (a device's guid never changes): every alarm looks
    // its device up by guid, and a host with many devices must not scan them all each time.
    std::unordered_map<std::string, std::shared_ptr<dam::IDevice>> m_byGuid;
    std::vector<StatusRecord> m_statuses;
    StatusObserver m_statusObserver;
    std::vector<unsigned int> m_failDelete;
    bool m_debugMode = false;
    bool m_failTimeInfo = false;
    std::optional<TimeZone> m_timeZone;
};

class MARL_API CArea : public IArea {
public:
    CArea(int id, std::string name) : m_id(id), m_name(std::move(name)) {}
    int GetAreaID() override { return m_id; }
    std::string GetAreaName() override { return m_name; }

private:
    int m_id;
    std::string m_name;
};

class MARL_API CAreaManager : public IAreaManager {
public:
    std::shared_ptr<IArea> GetChannelArea(unsigned int channelId, int channelType) override;
    void SetChannelArea(unsigned int channelId, int channelType, int areaId, const std::string& areaName);

private:
    mutable std::mutex m_mutex;
    std::map<std::pair<unsigned int, int>, std::shared_ptr<IArea>> m_areas;
};

// Reversible encryption bound to a session: AES-256-CBC, key = SHA-256 of the session text,
// random IV; the result is base64 of IV followed by the cipher text.
class MARL_API CUserSessionManager : public IUserSessionManager {
public:
    bool EncryptBySession(std::string& out, const std::string& plain, const std::string& userSession,
                          bool flag) override;
    bool DecryptBySession(std::string& out, const std::string& encrypted, const std::string& userSession);
};

class MARL_API COperationLogWriter : public IWriteOperationLog {
public:
    struct Entry {
        std::string userSession;
        unsigned int type;
        unsigned int deviceId;
        std::string deviceName;
        bool flag;
        int value1;
        int value2;
        std::string text;
    };
    void WriteOperationLog(const std::string& userSession, unsigned int type, unsigned int deviceId,
                           const std::string& deviceName, bool flag, int value1, int value2,
                           const std::string& text) override;
    std::vector<Entry> Entries() const;

private:
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
};

// Keeps every event delivered and tells an observer.
class MARL_API CCapacityManager : public ICapactityManager {
public:
    struct Event {
        unsigned int eventType;
        unsigned int sourceType;
        unsigned int sourceId;
        std::string content; // all content bytes
        std::string json;    // the text before the first NUL
        std::string origin;
        unsigned int user;
        std::string threadName; // worker thread that delivered it
    };
    using Observer = std::function<void(const Event&)>;

    bool NotifyEvent(unsigned int eventType, unsigned int sourceType, unsigned int sourceId,
                     const std::shared_ptr<CBaseContent>& content, const std::string& origin,
                     unsigned int user) override;

    std::vector<Event> Events() const;
    std::size_t EventCount() const;
    void SetObserver(Observer observer);
    // Keep only the count, not the events (long runs and benchmarks).
    void SetKeepEvents(bool keep);

private:
    mutable std::mutex m_mutex;
    std::vector<Event> m_events;
    std::size_t m_count = 0;
    Observer m_observer;
    bool m_keep = true;
};

} // namespace OstraPlatform
