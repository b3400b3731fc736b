#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"

#include <exception>

#include "Common/Constants.h"
#include "Common/LazySingleton.h"
#include "Common/Log.h"
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

CTCPConnMgr::~CTCPConnMgr()
{
    std::map<int, std::shared_ptr<CModbusTCPConn>> conns;
    {
        std::lock_guard<std::mutex> lock(m_connMutex);
        conns.swap(m_conns);
        m_handles.clear();
    }
    // Each connection stops its poll when it goes, outside the lock.
}

int CTCPConnMgr::RequestLogin(const Marl::Net::TcpConnectParam& param, int inputNum, int outputNum, int inputType,
                              int companyType)
{
    if (param.ip.empty() || param.port == 0) {
        IOBOX_LOG(5, "iobox::CTCPConnMgr::RequestLogin", "RequestLogin network,param err, ip[%s], port[%d]",
                  param.ip.c_str(), static_cast<int>(param.port));
        return -1;
    }
    std::shared_ptr<CModbusTCPConn> conn;
    try {
        conn = std::make_shared<CModbusTCPConn>(GetTiming());
        if (!conn->Init(param, inputNum, outputNum, inputType, companyType)) {
            conn.reset(); // stops and removes its client as it goes
        }
    } catch (const std::exception&) {
        conn.reset(); // out of memory or no thread: as a failed Init
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
    }
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
            return m_lastHandle;
        }
    }
    return -1;
}

bool CTCPConnMgr::Logout(int handle)
{
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
    }
    if (!conn) {
        return false;
    }
    conn->Stop();
    {
        std::lock_guard<std::mutex> lock(m_recordMutex);
        m_records.erase(handle);
    }
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

void CTCPConnMgr::SetLastHandleForTest(int handle)
{
    std::lock_guard<std::mutex> lock(m_connMutex);
    m_lastHandle = handle;
}

} // namespace iobox
