#pragma once
#include <memory>

#include "Common/LazySingleton.h"
#include "Communication/ModbusComm/TCPConnManager/ModbusTypes.h"
#include "Marl/Base/ThreadManager.h"
#include "dam/Device.h"

namespace iobox {

// What an event needs from one alarm record of a poll, owned by the event pipeline.
class CModbusAlarmInputInfo {
public:
    CModbusAlarmInputInfo(std::shared_ptr<dam::IDevice> device, int point, int type, int alarm)
        : m_device(std::move(device)), m_point(point), m_type(type), m_alarm(alarm)
    {
    }

    const std::shared_ptr<dam::IDevice>& GetDevice() const { return m_device; }
    int GetPoint() const { return m_point; } // input number, 1-based
    int GetType() const { return m_type; }   // 0 for an alarm input
    int GetAlarm() const { return m_alarm; } // 1 in alarm

private:
    const std::shared_ptr<dam::IDevice> m_device;
    const int m_point;
    const int m_type;
    const int m_alarm;
};

// Builds and delivers the events of one record on the event worker thread.
class CModbusAlarminputAlarmTask : public Marl::Base::CTMTask {
public:
    explicit CModbusAlarminputAlarmTask(std::shared_ptr<CModbusAlarmInputInfo> record);
    ~CModbusAlarminputAlarmTask() override;
    void Run() override;

private:
    std::shared_ptr<CModbusAlarmInputInfo> m_record;
};

// Entry of the event pipeline: takes alarm records on the polling threads and moves all
// further work to the event worker thread.
class CEventProcessManager {
public:
    static CEventProcessManager* Instance();

    // Registers the alarm callback with the connection manager.
    bool Init();
    // Withdraws the alarm callback.
    bool UnInit();

    // The connection manager's alarm callback; runs on a polling thread and copies what it keeps.
    static void ModbusEventCallback(ModbusAlarmInfo* info, void* userData);
    bool ReceiveAdamRawData(std::shared_ptr<CModbusAlarmInputInfo> record);
    void ProcSDKRawEventAsync(std::shared_ptr<CModbusAlarmInputInfo> record);

private:
    friend class LazySingleton<CEventProcessManager>;
    CEventProcessManager() = default;
};

} // namespace iobox
