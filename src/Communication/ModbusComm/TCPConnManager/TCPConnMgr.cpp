#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>

#include "Common/Constants.h"
#include "Common/LazySingleton.h"
#include "Common/Log.h"
#include "Common/Timer.h"
#include "Communication/ModbusComm/TCP/TCPClient.h"
#include "Communication/ModbusComm/TCP/TcpClientManager.h"
#include "Communication/ModbusComm/TCPConnManager/ModbusTCPConn.h"
#include "Marl/Base/Singleton.h"
#include "OstraPlatform/Managers.h"
#include "dam/InterfaceManager.h"

namespace iobox {

namespace {
constexpr int kLastHandle = 1000001; // handles run 1 .. kLastHandle, then start again at 1

// What the host's device-status message carries: four 32-bit fields in this order. The record
// is the plug-in's own: the host names its layout, not a type of its SDK.
struct DeviceStatusRecord {
    int32_t deviceId = 0;
    int32_t statusCode = 0;
    int32_t unused = 0; // never filled in
    int32_t zero = 0;
};
} // namespace

CTCPConnMgr* CTCPConnMgr::Instance() { return LazySingleton<CTCPConnMgr>::Instance(); }

CTCPConnMgr::CTCPConnMgr()
{
    // Singletons die in reverse order of creation. Connections remove their TCP clients when
    // they go, so the client table is created first and outlives this registry.
    Marl::Net::CTcpClientManager::Instance();
}

CTCPConnMgr::~CTCPConnMgr() = default;

bool KeptAtUnload(const CTCPConnMgr& manager)
{
    const bool kept = manager.m_connCount.load() > 0 || manager.m_busy.load() > 0;
    if (kept) {
        Marl::Net::CTcpClientManager::KeepAtUnload();
    }
    return kept;
}

class CTCPConnMgr::Busy {
public:
    explicit Busy(CTCPConnMgr& manager) : m_manager(manager)
    {
        std::lock_guard<std::mutex> lock(m_manager.m_busyMutex);
        ++m_manager.m_busy;
    }
    ~Busy()
    {
        {
            std::lock_guard<std::mutex> lock(m_manager.m_busyMutex);
            --m_manager.m_busy;
        }
        m_manager.m_idle.notify_all();
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    CTCPConnMgr& m_manager;
};

void CTCPConnMgr::Shutdown()
{
    static const char* const kFunc = "iobox::CTCPConnMgr::Shutdown";
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kThreadEndDeadlineMs);
    // Bounded by the deadline: a round ends with every connection seen logged out, and a login
    // or logout on another thread is waited for (a poll's own logout from inside a notification
    // takes its connection out of the table before it hands its thread on).
    for (;;) {
        std::vector<int> handles;
        {
            std::lock_guard<std::mutex> lock(m_connMutex);
            for (const auto& entry : m_conns) {
                handles.push_back(entry.first);
            }
        }
        for (const int handle : handles) {
            Logout(handle);
        }
        bool idle = false;
        {
            std::unique_lock<std::mutex> lock(m_busyMutex);
            idle = m_idle.wait_until(lock, deadline, [this] { return m_busy.load() == 0; });
        }
        if (!idle) {
            IOBOX_LOG(5, kFunc, "a login or logout still under way after %u ms, left to end by itself",
                      kThreadEndDeadlineMs);
            break;
        }
        if (m_connCount.load() == 0) {
            break;
        }
        if (Clock::now() >= deadline) {
            IOBOX_LOG(5, kFunc, "connections still logged in after %u ms, left running", kThreadEndDeadlineMs);
            break;
        }
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    CTimer::JoinSelfStopped(static_cast<uint32_t>(std::max<long long>(left, 1)));
}

int CTCPConnMgr::RequestLogin(const Marl::Net::TcpConnectParam& param, int inputNum, int outputNum, int inputType,
                              int companyType)
{
    const Busy busy(*this);
    if (param.ip.empty() || param.port == 0) {
        IOBOX_LOG(5, "iobox::CTCPConnMgr::RequestLogin", "RequestLogin network,param err, ip[%s], port[%d]",
                  param.ip.c_str(), static_cast<int>(param.port));
        return -1;
    }
    std::shared_ptr<CModbusTCPConn> conn;
    try {
        conn = std::make_shared<CModbusTCPConn>(GetTiming());
        if (!conn->Open(param, inputNum, outputNum, inputType, companyType)) {
            conn.reset(); // removes its client as it goes
        }
    } catch (const std::exception&) {
        conn.reset(); // out of memory: as a failed Init
    }
    if (!conn) {
        IOBOX_LOG(5, "iobox::CTCPConnMgr::RequestLogin", "RequestLogin network,Init err,ip[%s], port[%d]",
                  param.ip.c_str(), static_cast<int>(param.port));
        return -1;
    }
    const int handle = Register(conn);
    if (handle < 0) {
        IOBOX_LOG(5, "iobox::CTCPConnMgr::RequestLogin", "RequestLogin no free handle, ip[%s], port[%d]",
                  param.ip.c_str(), static_cast<int>(param.port));
        return -1;
    }
    // Registered before its first poll, so that the poll's alarms find their handle.
    try {
        conn->StartPolling();
    } catch (const std::exception&) {
        Logout(handle); // no memory for the timer: as a failed Init
        IOBOX_LOG(5, "iobox::CTCPConnMgr::RequestLogin", "RequestLogin network,Init err,ip[%s], port[%d]",
                  param.ip.c_str(), static_cast<int>(param.port));
        return -1;
    }
    CTimer::JoinSelfStopped(0);
    return handle;
}

int CTCPConnMgr::Register(const std::shared_ptr<CModbusTCPConn>& conn)
{
    std::lock_guard<std::mutex> lock(m_connMutex);
    // A handle still in use after the wrap-around is skipped: handing it out again would give
    // the caller another device's connection.
    for (int tries = 0; tries < kLastHandle; ++tries) {
        if (m_lastHandle >= kLastHandle) {
            m_lastHandle = 0;
        }
        ++m_lastHandle;
        if (m_conns.emplace(m_lastHandle, conn).second) {
            m_handles[conn.get()] = m_lastHandle;
            m_connCount.store(m_conns.size());
            return m_lastHandle;
        }
    }
    return -1;
}

bool CTCPConnMgr::Logout(int handle)
{
    const Busy busy(*this);
    std::shared_ptr<CModbusTCPConn> conn;
    {
        std::lock_guard<std::mutex> lock(m_connMutex);
        auto it = m_conns.find(handle);
        if (it == m_conns.end()) {
            return false;
        }
        conn = std::move(it->second);
        m_conns.erase(it);
        m_handles.erase(conn.get());
        m_connCount.store(m_conns.size());
    }
    if (!conn) {
        return false;
    }
    conn->Stop();
    std::size_t unrecorded = 0;
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        m_records.erase(handle);
        const auto held = m_held.find(handle);
        if (held != m_held.end()) {
            unrecorded = held->second.delivering ? 0 : held->second.alarms.size();
            m_held.erase(held);
        }
    }
    for (std::size_t i = 0; i < unrecorded; ++i) {
        IOBOX_LOG(5, "iobox::CTCPConnMgr::ShowAlarm", "ShowAlarm user id not find, user id[%d]", handle);
    }
    CTimer::JoinSelfStopped(0);
    return true;
}

void CTCPConnMgr::SaveAdamDeviceGuid(int handle, const DeviceGuidInfo& info)
{
    if (info.guid.empty() || info.deviceId < 0) {
        IOBOX_LOG(5, "iobox::CTCPConnMgr::SaveAdamDeviceGuid", "SaveAdamDeviceGuid guid is empty, user id[%d]", handle);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        m_records[handle] = info;
        const auto held = m_held.find(handle);
        if (held == m_held.end() || held->second.delivering) {
            return;
        }
        held->second.delivering = true;
    }
    DeliverHeld(handle);
}

void CTCPConnMgr::DeliverHeld(int handle)
{
    for (;;) {
        std::vector<ModbusAlarmInfo> batch;
        {
            std::lock_guard<std::mutex> lock(m_recordMutex);
            const auto held = m_held.find(handle);
            const auto record = m_records.find(handle);
            if (held == m_held.end()) {
                return; // logged out meanwhile
            }
            if (held->second.alarms.empty() || record == m_records.end()) {
                m_held.erase(held); // from now on the poll delivers its alarms itself
                return;
            }
            batch.swap(held->second.alarms);
            for (auto& alarm : batch) {
                alarm.guid = record->second.guid;
            }
        }
        const AlarmCallback callback = m_callback.load();
        for (auto& alarm : batch) {
            if (callback != nullptr) {
                callback(&alarm, m_userData.load());
            }
        }
    }
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
    const auto it = m_handles.find(conn);
    return it == m_handles.end() ? -1 : it->second;
}

void CTCPConnMgr::ShowAlarm(CModbusTCPConn* conn, ModbusAlarmInfo* info)
{
    const AlarmCallback callback = m_callback.load();
    if (callback == nullptr || info == nullptr) {
        return;
    }
    const int handle = FindHandle(conn);
    if (handle < 0) {
        return; // already logged out
    }
    info->address = handle;
    bool deliver = false;
    bool lost = false;
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        const auto record = m_records.find(handle);
        if (record != m_records.end()) {
            info->guid = record->second.guid;
            const auto held = m_held.find(handle);
            if (held == m_held.end()) {
                deliver = true;
            } else {
                held->second.alarms.push_back(*info); // behind the held alarms being delivered
            }
        } else {
            auto& held = m_held[handle].alarms;
            const bool samePoint = std::any_of(held.begin(), held.end(),
                                               [info](const ModbusAlarmInfo& h) { return h.point == info->point; });
            // A poll's worth is held at most: a second alarm of the same input is lost.
            lost = samePoint;
            if (!samePoint) {
                held.push_back(*info);
            }
        }
    }
    if (deliver) {
        callback(info, m_userData.load());
    } else if (lost) {
        IOBOX_LOG(5, "iobox::CTCPConnMgr::ShowAlarm", "ShowAlarm user id not find, user id[%d]", handle);
    }
}

void CTCPConnMgr::ReportDeviceStatus(CModbusTCPConn* conn, int status)
{
    const int handle = FindHandle(conn);
    if (handle < 0) {
        return;
    }
    DeviceStatusRecord record;
    if (status == kStatusOffline) {
        record.statusCode = kStatusCodeOffline;
    } else if (status == kStatusOnline) {
        record.statusCode = kStatusCodeOnline;
    }
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        auto it = m_records.find(handle);
        if (it == m_records.end()) {
            return;
        }
        record.deviceId = it->second.deviceId;
    }
    auto deviceManager = Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance()->GetDeviceManager();
    if (deviceManager) {
        deviceManager->NotifyDeviceStatus(kDeviceStatusMessageType, &record);
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

void CTCPConnMgr::SetLastHandleForTest(int handle)
{
    std::lock_guard<std::mutex> lock(m_connMutex);
    m_lastHandle = handle;
}

} // namespace iobox
