#include "OstraPlatform/HostManagers.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <cstring>

#include "Marl/Base/Singleton.h"
#include "Marl/Base/ThreadManager.h"
#include "dam/InterfaceManager.h"
#include "Platform/HostPlatform.h"

namespace OstraPlatform {

// ---- device manager -------------------------------------------------------------------

std::shared_ptr<dam::IDevice> CDeviceManager::GetDevice(unsigned int deviceId, int category)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& device : m_devices) {
        if (static_cast<unsigned int>(device->GetDeviceID()) == deviceId && device->GetDeviceCategory() == category) {
            return device;
        }
    }
    return nullptr;
}

std::shared_ptr<dam::IDevice> CDeviceManager::GetDeviceByGuid(const std::string& guid)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_byGuid.find(guid);
    return it == m_byGuid.end() ? nullptr : it->second;
}

bool CDeviceManager::DeleteDeviceByID(unsigned int deviceId, int category)
{
    std::shared_ptr<dam::IDevice> removed;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (std::find(m_failDelete.begin(), m_failDelete.end(), deviceId) != m_failDelete.end()) {
        return false;
    }
    for (auto it = m_devices.begin(); it != m_devices.end(); ++it) {
        if (static_cast<unsigned int>((*it)->GetDeviceID()) == deviceId && (*it)->GetDeviceCategory() == category) {
            removed = *it;
            m_devices.erase(it);
            // The guid now names the next device added with it, if any.
            const std::string guid = removed->GetDeviceGuid();
            const auto indexed = m_byGuid.find(guid);
            if (indexed != m_byGuid.end() && indexed->second == removed) {
                m_byGuid.erase(indexed);
                for (const auto& device : m_devices) {
                    if (device->GetDeviceGuid() == guid) {
                        m_byGuid.emplace(guid, device);
                        break;
                    }
                }
            }
            return true;
        }
    }
    return false;
}

bool CDeviceManager::GetEventRelatedChannel(std::shared_ptr<dam::CEventChannelInfo>& info,
                                            std::shared_ptr<dam::IDevice> device, int channelType, int channelNo)
{
    if (!device) {
        return false;
    }
    for (const auto& channel : device->GetChannels(channelType)) {
        if (channel->GetNo() != channelNo) {
            continue;
        }
        if (!info) {
            info = std::make_shared<dam::CEventChannelInfo>();
        }
        info->SetChannel(channel->GetID(), channel->GetName());
        info->SetArea(-1, std::string());
        auto areas = Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance()->GetAreaManager();
        if (areas) {
            if (auto area = areas->GetChannelArea(channel->GetID(), channel->GetType())) {
                info->SetArea(area->GetAreaID(), area->GetAreaName());
            }
        }
        return true;
    }
    return false;
}

namespace {

struct ZoneDates {
    int year = -1;
    std::string daylightDate; // first local day of daylight saving time, empty without DST
    std::string standardDate; // first local day of standard time again
};

// Dates of the year's daylight-saving transitions in the process's time zone.
ZoneDates TransitionDates(int year)
{
    ZoneDates dates;
    dates.year = year;
    tm start{};
    start.tm_year = year - 1900;
    start.tm_mon = 0;
    start.tm_mday = 1;
    start.tm_hour = 12;
    start.tm_isdst = -1;
    time_t t = mktime(&start);
    tm previous{};
    Marl::Platform::LocalTime(t, previous);
    for (int day = 1; day < 366; ++day) {
        time_t next = t + static_cast<time_t>(day) * 86400;
        tm now{};
        Marl::Platform::LocalTime(next, now);
        if (now.tm_isdst != previous.tm_isdst) {
            char text[16];
            std::strftime(text, sizeof text, "%Y-%m-%d", &now);
            (now.tm_isdst > 0 ? dates.daylightDate : dates.standardDate) = text;
        }
        previous = now;
    }
    return dates;
}

} // namespace

bool CDeviceManager::GetEventTimeInfo(std::shared_ptr<dam::CEventTimeInfo>& info, std::shared_ptr<dam::IDevice> device,
                                      time_t time)
{
    std::optional<TimeZone> fixed;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_failTimeInfo) {
            return false;
        }
        fixed = m_timeZone;
    }
    if (!device) {
        return false;
    }
    if (fixed) {
        if (!info) {
            info = std::make_shared<dam::CEventTimeInfo>();
        }
        info->SetTimeDiffrence(fixed->timeDifference);
        info->SetTimeZoneBias(fixed->bias);
        info->SetDaylightDate(fixed->daylightDate);
        info->SetStandardDate(fixed->standardDate);
        info->SetDaylightBias(fixed->daylightBias);
        return true;
    }
    tm local{};
    if (!Marl::Platform::LocalTime(time, local)) {
        return false;
    }
    static std::mutex cacheMutex;
    static ZoneDates cache;
    ZoneDates dates;
    {
        std::lock_guard<std::mutex> lock(cacheMutex);
        if (cache.year != local.tm_year + 1900) {
            cache = TransitionDates(local.tm_year + 1900);
        }
        dates = cache;
    }
    const long offsetSeconds = Marl::Platform::UtcOffsetSeconds(time, local);
    const int offsetMinutes = static_cast<int>(offsetSeconds / 60);
    const int dstMinutes = local.tm_isdst > 0 ? 60 : 0;
    if (!info) {
        info = std::make_shared<dam::CEventTimeInfo>();
    }
    info->SetTimeDiffrence(static_cast<int>(offsetSeconds));
    // Bias as minutes to add to local standard time to get UTC.
    info->SetTimeZoneBias(-(offsetMinutes - dstMinutes));
    info->SetDaylightDate(dates.daylightDate);
    info->SetStandardDate(dates.standardDate);
    info->SetDaylightBias(dates.daylightDate.empty() ? 0 : -60);
    return true;
}

bool CDeviceManager::IsDebugMode()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_debugMode;
}

bool CDeviceManager::NotifyDeviceStatus(unsigned int msgType, const void* message)
{
    if (msgType != DEVICE_STATUS_MSG_TYPE || message == nullptr) {
        return false;
    }
    DeviceStatusInfo status;
    std::memcpy(&status, message, sizeof status);
    StatusRecord record{msgType, status.device_id, status.status_code};
    StatusObserver observer;
    std::vector<std::shared_ptr<dam::IDevice>> devices;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_statuses.push_back(record);
        observer = m_statusObserver;
        devices = m_devices;
    }
    for (const auto& device : devices) {
        auto concrete = std::dynamic_pointer_cast<dam::CDevice>(device);
        if (concrete && concrete->GetDeviceHandle() == status.device_id) {
            if (status.status_code == DEVICE_STATUS_OFFLINE) {
                concrete->SetOnline(false);
                concrete->SetOfflineError(Marl::Base::Error::ErrorCode(0, 4));
            } else if (status.status_code == DEVICE_STATUS_ONLINE) {
                concrete->SetOnline(true);
            }
        }
    }
    if (observer) {
        observer(record);
    }
    return true;
}

void CDeviceManager::AddDevice(std::shared_ptr<dam::IDevice> device)
{
    if (!device) {
        return;
    }
    std::string guid = device->GetDeviceGuid();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_byGuid.emplace(std::move(guid), device);
    m_devices.push_back(std::move(device));
}

std::vector<std::shared_ptr<dam::IDevice>> CDeviceManager::Devices() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_devices;
}

std::vector<CDeviceManager::StatusRecord> CDeviceManager::StatusNotifications() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_statuses;
}

void CDeviceManager::SetStatusObserver(StatusObserver observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_statusObserver = std::move(observer);
}

void CDeviceManager::SetDebugMode(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_debugMode = on;
}

void CDeviceManager::SetFailTimeInfo(bool fail)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failTimeInfo = fail;
}

void CDeviceManager::SetTimeZone(std::optional<TimeZone> zone)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_timeZone = std::move(zone);
}

void CDeviceManager::SetFailDelete(unsigned int deviceId, bool fail)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failDelete.erase(std::remove(m_failDelete.begin(), m_failDelete.end(), deviceId), m_failDelete.end());
    if (fail) {
        m_failDelete.push_back(deviceId);
    }
}

// ---- areas ------------------------------------------------------------------------------

std::shared_ptr<IArea> CAreaManager::GetChannelArea(unsigned int channelId, int channelType)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_areas.find(std::make_pair(channelId, channelType));
    return it == m_areas.end() ? nullptr : it->second;
}

void CAreaManager::SetChannelArea(unsigned int channelId, int channelType, int areaId, const std::string& areaName)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_areas[std::make_pair(channelId, channelType)] = std::make_shared<CArea>(areaId, areaName);
}

// ---- user sessions ------------------------------------------------------------------------

namespace {

constexpr int kIvLength = 16;

bool SessionKey(const std::string& session, unsigned char key[32])
{
    unsigned int length = 0;
    return EVP_Digest(session.data(), session.size(), key, &length, EVP_sha256(), nullptr) == 1 && length == 32;
}

std::string Base64(const std::string& bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                                  reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return out;
}

bool Unbase64(const std::string& text, std::string& bytes)
{
    if (text.empty() || text.size() % 4 != 0) {
        return false;
    }
    bytes.assign(3 * text.size() / 4 + 1, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&bytes[0]),
                                  reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0) {
        return false;
    }
    size_t length = static_cast<size_t>(n);
    // EVP_DecodeBlock counts the padding bytes as data.
    for (size_t i = text.size(); i > 0 && text[i - 1] == '='; --i) {
        --length;
    }
    bytes.resize(length);
    return true;
}

bool Crypt(bool encrypt, const unsigned char key[32], const unsigned char iv[kIvLength], const std::string& in,
           std::string& out)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (ctx == nullptr) {
        return false;
    }
    bool ok = EVP_CipherInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key, iv, encrypt ? 1 : 0) == 1;
    std::string buffer(in.size() + 32, '\0');
    int written = 0;
    int final = 0;
    ok = ok && EVP_CipherUpdate(ctx, reinterpret_cast<unsigned char*>(&buffer[0]), &written,
                                reinterpret_cast<const unsigned char*>(in.data()), static_cast<int>(in.size())) == 1;
    ok = ok && EVP_CipherFinal_ex(ctx, reinterpret_cast<unsigned char*>(&buffer[0]) + written, &final) == 1;
    EVP_CIPHER_CTX_free(ctx);
    if (!ok) {
        return false;
    }
    buffer.resize(static_cast<size_t>(written + final));
    out.swap(buffer);
    return true;
}

} // namespace

bool CUserSessionManager::EncryptBySession(std::string& out, const std::string& plain, const std::string& userSession,
                                           bool)
{
    unsigned char key[32];
    unsigned char iv[kIvLength];
    std::string cipher;
    if (userSession.empty() || !SessionKey(userSession, key) || RAND_bytes(iv, kIvLength) != 1 ||
        !Crypt(true, key, iv, plain, cipher)) {
        return false;
    }
    out = Base64(std::string(reinterpret_cast<const char*>(iv), kIvLength) + cipher);
    return true;
}

bool CUserSessionManager::DecryptBySession(std::string& out, const std::string& encrypted,
                                           const std::string& userSession)
{
    unsigned char key[32];
    std::string bytes;
    if (userSession.empty() || !SessionKey(userSession, key) || !Unbase64(encrypted, bytes) ||
        bytes.size() < static_cast<size_t>(kIvLength)) {
        return false;
    }
    return Crypt(false, key, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.substr(kIvLength), out);
}

// ---- operation log ------------------------------------------------------------------------

void COperationLogWriter::WriteOperationLog(const std::string& userSession, unsigned int type, unsigned int deviceId,
                                            const std::string& deviceName, bool flag, int value1, int value2,
                                            const std::string& text)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.push_back(Entry{userSession, type, deviceId, deviceName, flag, value1, value2, text});
}

std::vector<COperationLogWriter::Entry> COperationLogWriter::Entries() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_entries;
}

// ---- capacity manager ----------------------------------------------------------------------

bool CCapacityManager::NotifyEvent(unsigned int eventType, unsigned int sourceType, unsigned int sourceId,
                                   const std::shared_ptr<CBaseContent>& content, const std::string& origin,
                                   unsigned int user)
{
    Event event{eventType, sourceType, sourceId, std::string(), std::string(), origin, user,
                Marl::Base::CThreadManager::CurrentThreadName()};
    char* data = nullptr;
    unsigned int length = 0;
    if (content && content->GetContent(&data, &length) && data != nullptr) {
        event.content.assign(data, length);
        event.json.assign(data, strnlen(data, length));
    }
    Observer observer;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_count;
        observer = m_observer;
        if (m_keep) {
            m_events.push_back(event);
        }
    }
    if (observer) {
        observer(event);
    }
    return true;
}

std::vector<CCapacityManager::Event> CCapacityManager::Events() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_events;
}

std::size_t CCapacityManager::EventCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_count;
}

void CCapacityManager::SetObserver(Observer observer)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_observer = std::move(observer);
}

void CCapacityManager::SetKeepEvents(bool keep)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_keep = keep;
}

} // namespace OstraPlatform
