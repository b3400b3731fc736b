#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"

#include "Common/LazySingleton.h"
#include "Common/Log.h"
#include "Marl/Base/Singleton.h"
#include "OstraPlatform/Managers.h"
#include "dam/InterfaceManager.h"

namespace iobox {

namespace {
constexpr int kStatusOnline = 1;
constexpr int kStatusOffline = 2;
constexpr int kStatusCodeOnline = 0x8017;
constexpr int kStatusCodeOffline = 0x8000;
} // namespace

CTCPConnMgr* CTCPConnMgr::Instance() { return LazySingleton<CTCPConnMgr>::Instance(); }

CTCPConnMgr::~CTCPConnMgr()
{
    std::map<int, std::shared_ptr<CModbusTCPConn>> conns;
    {
        std::lock_guard<std::mutex> lock(m_connMutex);
        conns.swap(m_conns);
    }
    // Each connection stops its poll when it goes, outside the lock.
}

void CTCPConnMgr::SaveAdamDeviceGuid(int handle, const DeviceGuidInfo& info)
{
    if (info.guid.empty() || info.deviceId < 0) {
        IOBOX_LOG(5, "iobox::CTCPConnMgr::SaveAdamDeviceGuid", "SaveAdamDeviceGuid guid is empty, user id[%d]", handle);
        return;
    }
    std::lock_guard<std::mutex> lock(m_recordMutex);
    m_records[handle] = info;
}

std::shared_ptr<CModbusTCPConn> CTCPConnMgr::GetConn(int handle)
{
    std::lock_guard<std::mutex> lock(m_connMutex);
    auto it = m_conns.find(handle);
    return it == m_conns.end() ? nullptr : it->second;
}

void CTCPConnMgr::SetAlarmCallback(AlarmCallback callback, void* userData)
{
    m_userData.store(userData);
    m_callback.store(callback);
}

int CTCPConnMgr::FindHandle(const CModbusTCPConn* conn)
{
    std::lock_guard<std::mutex> lock(m_connMutex);
    for (const auto& entry : m_conns) {
        if (entry.second.get() == conn) {
            return entry.first;
        }
    }
    return -1;
}

void CTCPConnMgr::ShowAlarm(CModbusTCPConn* conn, ModbusAlarmInfo* info)
{
    const AlarmCallback callback = m_callback.load();
    if (callback == nullptr || info == nullptr) {
        return;
    }
    const int handle = FindHandle(conn);
    if (handle < 0) {
        return; // not registered yet, or already logged out
    }
    info->address = handle;
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        auto it = m_records.find(handle);
        if (it == m_records.end()) {
            IOBOX_LOG(5, "iobox::CTCPConnMgr::ShowAlarm", "ShowAlarm user id not find, user id[%d]", handle);
            return;
        }
        info->guid = it->second.guid;
    }
    callback(info, m_userData.load());
}

void CTCPConnMgr::ReportDeviceStatus(CModbusTCPConn* conn, int status)
{
    const int handle = FindHandle(conn);
    if (handle < 0) {
        return;
    }
    OstraPlatform::DeviceStatusInfo record;
    if (status == kStatusOffline) {
        record.status_code = kStatusCodeOffline;
    } else if (status == kStatusOnline) {
        record.status_code = kStatusCodeOnline;
    }
    record.extra = 0;
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        auto it = m_records.find(handle);
        if (it == m_records.end()) {
            return;
        }
        record.device_id = it->second.deviceId;
    }
    auto deviceManager = Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance()->GetDeviceManager();
    if (deviceManager) {
        deviceManager->NotifyDeviceStatus(OstraPlatform::DEVICE_STATUS_MSG_TYPE, &record);
    }
}

void CTCPConnMgr::SetTiming(const ModbusTiming& timing)
{
    std::lock_guard<std::mutex> lock(m_timingMutex);
    m_timing = timing;
}

ModbusTiming CTCPConnMgr::GetTiming() const
{
    std::lock_guard<std::mutex> lock(m_timingMutex);
    return m_timing;
}

} // namespace iobox
