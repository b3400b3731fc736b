#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "Common/LazySingleton.h"
#include "Common/Timing.h"
#include "Communication/ModbusComm/TCPConnManager/ModbusTypes.h"
#include "Marl/Base/Noncopyable.h"

namespace Marl { namespace Net { struct TcpConnectParam; } }

namespace iobox {

class CModbusTCPConn;

// The process-wide registry of Modbus connections by handle, with each device's guid beside
// its handle. Two locks, never held together nor across a callback, a stop or a host call.
class CTCPConnMgr : public Marl::Base::CNoncopyable {
public:
    static CTCPConnMgr* Instance();

    // Connects and starts polling a new connection; its handle (>= 1) or -1.
    int RequestLogin(const Marl::Net::TcpConnectParam& param, int inputNum, int outputNum, int inputType,
                     int companyType);
    // Records the device's guid; from then on the handle's alarms reach the callback.
    void SaveAdamDeviceGuid(int handle, const DeviceGuidInfo& info);
    std::shared_ptr<CModbusTCPConn> GetConn(int handle);
    // Removes the connection and stops its polling before returning.
    bool Logout(int handle);
    // Unit: refuses logins from now on, stops every connection and every login under way, then
    // joins their poll threads and those that logouts from inside a poll handed on, all within
    // one deadline, so that nothing of them runs when it returns; what is still running then
    // (a poll stuck in a host call) is reported and left to end by itself.
    void Shutdown();
    // Init after Unit: logins are accepted again.
    void Reopen();
    void SetAlarmCallback(AlarmCallback callback, void* userData);
    AlarmCallback GetAlarmCallback() const { return m_callback.load(); }
    void* GetAlarmUserData() const { return m_userData.load(); }
    // Called from a connection's poll thread for an input in alarm. Dropped, with a line,
    // while the device's guid is not recorded yet: the next poll reports the input again.
    void ShowAlarm(CModbusTCPConn* conn, ModbusAlarmInfo* info);
    // Called from a connection's poll thread: 1 back online, 2 offline.
    void ReportDeviceStatus(CModbusTCPConn* conn, int status);
    static constexpr int kStatusOnline = 1;
    static constexpr int kStatusOffline = 2;

    // Timings of connections created from now on; tests and benchmarks only.
    void SetTiming(const ModbusTiming& timing);
    ModbusTiming GetTiming() const;
    // Tests only: the handle issued last, so that the wrap-around can be reached.
    void SetLastHandleForTest(int handle);

    // Only memory: threads are stopped by Shutdown, never here (this may run under the
    // loader lock, or after the process's other threads were killed).
    ~CTCPConnMgr();

private:
    friend bool KeptAtUnload(const CTCPConnMgr& manager);
    // A login or logout under way, which Shutdown waits for.
    class Busy;
    friend class LazySingleton<CTCPConnMgr>;
    CTCPConnMgr();
    // Handle of the connection, -1 when it is not registered (under the connection lock).
    int FindHandle(const CModbusTCPConn* conn);
    class Opening;
    // Registers the connection under the next free handle; -1 when every handle is taken or
    // Unit came after the login began (shutdowns counted then).
    int Register(const std::shared_ptr<CModbusTCPConn>& conn, uint64_t shutdowns);
    bool ShutDownSince(uint64_t shutdowns);

    std::map<int, std::shared_ptr<CModbusTCPConn>> m_conns;
    // The same entries by connection: every alarm of every poll asks for its connection's
    // handle, which a walk of m_conns would make cost as much as there are connections.
    std::unordered_map<const CModbusTCPConn*, int> m_handles;
    std::unordered_map<const CModbusTCPConn*, std::weak_ptr<CModbusTCPConn>> m_opening; // under m_connMutex
    bool m_closed = false;       // from Shutdown to Reopen; under m_connMutex
    uint64_t m_shutdowns = 0;    // under m_connMutex
    std::unordered_map<int, DeviceGuidInfo> m_records; // looked up for every alarm
    std::mutex m_recordMutex; // guards m_records
    int m_lastHandle = 0;
    std::mutex m_connMutex;
    std::atomic<std::size_t> m_connCount{0}; // m_conns.size(), readable without the lock
    std::mutex m_busyMutex;
    std::condition_variable m_idle;
    std::atomic<int> m_busy{0}; // changed under m_busyMutex
    std::atomic<AlarmCallback> m_callback{nullptr};
    std::atomic<void*> m_userData{nullptr};

    mutable std::mutex m_timingMutex;
    ModbusTiming m_timing;
};

// A manager with connections or a logout still under way when the module goes (the host never
// called Unit) is left in memory with them: destroying a connection would stop and join its
// poll thread there, under the loader lock or waiting on a lock that a killed thread holds, and
// destroying the manager would pull it from under polls that still run (Linux runs static
// destructors while the other threads go on).
bool KeptAtUnload(const CTCPConnMgr& manager);

} // namespace iobox
