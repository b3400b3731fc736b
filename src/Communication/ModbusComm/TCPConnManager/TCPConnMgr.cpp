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
    using Clock = std::chrono::steady_clock;
    const auto begin = Clock::now();
    const auto deadline = begin + std::chrono::milliseconds(kThreadEndDeadlineMs);
    const auto msLeft = [&deadline] {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        return static_cast<uint32_t>(std::max<long long>(left, 0));
    };
    // First every connection and every login under way is told to stop, so that their waits
    // (a connect, a settle, an exchange, a pause) end together; then all are waited for.
    std::vector<std::shared_ptr<CModbusTCPConn>> conns;
    std::vector<std::shared_ptr<CModbusTCPConn>> opening;
    {
        std::lock_guard<std::mutex> lock(m_connMutex);
        m_closed = true;
        ++m_shutdowns;
        conns.reserve(m_conns.size());
        for (auto& entry : m_conns) {
            conns.push_back(std::move(entry.second));
        }
        m_conns.clear();
        m_handles.clear();
        m_connCount.store(0);
        for (const auto& entry : m_opening) {
            if (auto conn = entry.second.lock()) {
                opening.push_back(std::move(conn));
            }
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        m_records.clear();
    }
    // Register stores only live connections, so neither list holds an empty pointer.
    for (const auto& conn : conns) {
        conn->RequestStop();
    }
    for (const auto& conn : opening) {
        conn->RequestStop();
    }
    opening.clear(); // the logins end refused and release them
    for (const auto& conn : conns) {
        conn->FinishStop(msLeft()); // a poll still running is handed on and counted below
    }
    conns.clear(); // a connection whose poll still runs goes when the poll lets go of it
    bool idle = false;
    {
        std::unique_lock<std::mutex> lock(m_busyMutex);
        idle = m_idle.wait_until(lock, deadline, [this] { return m_busy.load() == 0; });
    }
    const std::size_t threads = CTimer::JoinSelfStopped(msLeft());
    if (threads > 0 || !idle) {
        const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();
        IOBOX_LOG(5, "iobox::CTCPConnMgr::Shutdown",
                  "waited %lld ms: %d poll threads and %d logins or logouts still running, left to end by themselves",
                  static_cast<long long>(waited), static_cast<int>(threads), m_busy.load());
    }
}

void CTCPConnMgr::Reopen()
{
    std::lock_guard<std::mutex> lock(m_connMutex);
    m_closed = false;
}

bool CTCPConnMgr::ShutDownSince(uint64_t shutdowns)
{
    std::lock_guard<std::mutex> lock(m_connMutex);
    return m_closed || m_shutdowns != shutdowns;
}

// A connection between its creation and its registration, known to Shutdown so that it can be
// cut short there.
class CTCPConnMgr::Opening {
public:
    Opening(CTCPConnMgr& manager, const std::shared_ptr<CModbusTCPConn>& conn) : m_manager(manager), m_key(conn.get())
    {
        std::lock_guard<std::mutex> lock(m_manager.m_connMutex);
        m_shutdowns = m_manager.m_shutdowns;
        m_refused = m_manager.m_closed;
        if (!m_refused) {
            m_manager.m_opening[m_key] = conn;
        }
    }
    ~Opening()
    {
        std::lock_guard<std::mutex> lock(m_manager.m_connMutex);
        m_manager.m_opening.erase(m_key);
    }
    Opening(const Opening&) = delete;
    Opening& operator=(const Opening&) = delete;
    bool Refused() const { return m_refused; }
    uint64_t Shutdowns() const { return m_shutdowns; }

private:
    CTCPConnMgr& m_manager;
    const CModbusTCPConn* m_key;
    uint64_t m_shutdowns = 0;
    bool m_refused = false;
};

int CTCPConnMgr::RequestLogin(const Marl::Net::TcpConnectParam& param, int inputNum, int outputNum, int inputType,
                              int companyType)
{
    const Busy busy(*this);
    if (param.ip.empty() || param.port == 0) {
        IOBOX_LOG(5, "iobox::CTCPConnMgr::RequestLogin", "RequestLogin network,param err, ip[%s], port[%d]",
                  param.ip.c_str(), static_cast<int>(param.port));
        return -1;
    }
    // A login that Unit overtakes ends refused, as a failed connect, with this one line: its
    // connection was stopped, or never opened, and no poll of it runs.
    const auto initFailed = [&param] {
        IOBOX_LOG(5, "iobox::CTCPConnMgr::RequestLogin", "RequestLogin network,Init err,ip[%s], port[%d]",
                  param.ip.c_str(), static_cast<int>(param.port));
        return -1;
    };
    std::shared_ptr<CModbusTCPConn> conn;
    int handle = -1;
    uint64_t shutdowns = 0;
    try {
        conn = std::make_shared<CModbusTCPConn>(GetTiming());
        const Opening opening(*this, conn);
        if (opening.Refused() || !conn->Open(param, inputNum, outputNum, inputType, companyType)) {
            return initFailed(); // the connection removes its client as it goes
        }
        shutdowns = opening.Shutdowns();
        handle = Register(conn, shutdowns);
        if (handle < 0 && ShutDownSince(shutdowns)) {
            return initFailed();
        }
    } catch (const std::exception&) {
        return initFailed(); // out of memory
    }
    if (handle < 0) {
        IOBOX_LOG(5, "iobox::CTCPConnMgr::RequestLogin", "RequestLogin no free handle, ip[%s], port[%d]",
                  param.ip.c_str(), static_cast<int>(param.port));
        return -1;
    }
    {
        // A record that a login overtaken by Unit saved after its connection was taken away.
        std::lock_guard<std::mutex> lock(m_recordMutex);
        m_records.erase(handle);
    }
    // Registered before its first poll, so that the poll's alarms find their handle.
    try {
        conn->StartPolling();
    } catch (const std::exception&) {
        Logout(handle); // no memory for the timer: as a failed Init
        return initFailed();
    }
    if (ShutDownSince(shutdowns)) {
        return initFailed(); // Unit took the connection meanwhile and stopped it
    }
    CTimer::JoinSelfStopped(0);
    return handle;
}

int CTCPConnMgr::Register(const std::shared_ptr<CModbusTCPConn>& conn, uint64_t shutdowns)
{
    std::lock_guard<std::mutex> lock(m_connMutex);
    if (m_closed || m_shutdowns != shutdowns) {
        return -1;
    }
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
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        m_records.erase(handle);
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
    bool recorded = false;
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        const auto record = m_records.find(handle);
        if (record != m_records.end()) {
            info->guid = record->second.guid;
            recorded = true;
        }
    }
    if (!recorded) {
        // The login has not recorded the device yet (its first poll); the input, if still in
        // alarm, is reported again at the next poll.
        IOBOX_LOG(5, "iobox::CTCPConnMgr::ShowAlarm", "ShowAlarm user id not find, user id[%d]", handle);
        return;
    }
    callback(info, m_userData.load());
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
