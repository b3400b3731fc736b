#include "EventManager/EventProcessManager.h"

#include <atomic>
#include <cstdint>
#include <ctime>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include "Common/Constants.h"
#include "Common/Log.h"
#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "EventManager/EventFactory/EventFactory.h"
#include "EventManager/EventNotifyMgr.h"
#include "Marl/Base/Singleton.h"
#include "Marl/Base/TimeUtil.h"
#include "OstraPlatform/Managers.h"
#include "dam/InterfaceManager.h"

namespace iobox {

namespace {

constexpr int kSummaryEvery = 5000;

// Raw records received, for the periodic summary line; reset after each line.
std::atomic<int32_t> g_receiveCount{0};

} // namespace

CModbusAlarminputAlarmTask::CModbusAlarminputAlarmTask(std::shared_ptr<CModbusAlarmInputInfo> record)
    // The name is made per task, not kept in a static: a poll that a host without Unit leaves
    // running may post while the process's statics are being destroyed.
    : Marl::Base::CTMTask(g_T_Iobox_EventFactory), m_record(std::move(record))
{
}

CModbusAlarminputAlarmTask::~CModbusAlarminputAlarmTask() = default;

void CModbusAlarminputAlarmTask::Run()
{
    if (!m_record) {
        return;
    }
    try {
        const std::vector<std::shared_ptr<CSPDamEventMsg>> messages = CSPEventFactory::CreateEventMsg(m_record);
        CSPEventNotifyMgr::Notify(messages);
    } catch (const std::exception& error) {
        // Out of memory while building or delivering: this event is lost, the worker goes on.
        IOBOX_LOG(5, "iobox::CModbusAlarminputAlarmTask::Run", "Event task failed, drop event: %s", error.what());
    }
}

CEventProcessManager* CEventProcessManager::Instance() { return LazySingleton<CEventProcessManager>::Instance(); }

bool CEventProcessManager::Init()
{
    CTCPConnMgr::Instance()->SetAlarmCallback(&CEventProcessManager::ModbusEventCallback, this);
    return true;
}

bool CEventProcessManager::UnInit()
{
    CTCPConnMgr::Instance()->SetAlarmCallback(nullptr, this);
    return true;
}

void CEventProcessManager::ModbusEventCallback(ModbusAlarmInfo* info, void* /*userData*/)
{
    if (info == nullptr) {
        return; // the connection manager never passes one; nothing to report
    }
    IOBOX_LOG(2, "iobox::CEventProcessManager::ModbusEventCallback", "ModbusEventCB, address :%d, type:%d, point:%d, alarm:%d",
              info->address, info->type, info->point, info->alarm);
    if (info->address < 0 || info->guid.empty()) {
        IOBOX_LOG(5, "iobox::CEventProcessManager::ModbusEventCallback", "ReceiveSDKData info.device_handle: %d,guid: %s",
                  info->address, info->guid.c_str());
        return;
    }
    auto deviceManager = Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance()->GetDeviceManager();
    if (!deviceManager) {
        IOBOX_LOG(5, "iobox::CEventProcessManager::ModbusEventCallback", "Get device manager ptr is nullptr!");
        return;
    }
    std::shared_ptr<dam::IDevice> device = deviceManager->GetDeviceByGuid(info->guid);
    if (!device) {
        IOBOX_LOG(5, "iobox::CEventProcessManager::ModbusEventCallback", "Find device ptr is nullptr, guid[%s]",
                  info->guid.c_str());
        return;
    }
    // The caller's record lives only during this call: keep copies, never the pointer.
    std::shared_ptr<CModbusAlarmInputInfo> record;
    try {
        record = std::make_shared<CModbusAlarmInputInfo>(std::move(device), info->point, info->type, info->alarm);
    } catch (const std::bad_alloc&) {
        record.reset();
    }
    if (!record) {
        IOBOX_LOG(5, "iobox::CEventProcessManager::ModbusEventCallback", "alarm ptr is nullptr, guid[%s]",
                  info->guid.c_str());
        return;
    }
    Instance()->ReceiveAdamRawData(std::move(record));
}

bool CEventProcessManager::ReceiveAdamRawData(std::shared_ptr<CModbusAlarmInputInfo> record)
{
    const int32_t received = ++g_receiveCount;
    if (received % kSummaryEvery == 0) {
        std::string stamp;
        int bias = 0;
        Marl::Base::TimeUtil::TimeT2LocalTime(stamp, bias, time(nullptr));
        IOBOX_LOG(3, "iobox::CEventProcessManager::ReceiveAdamRawData", "Receive modbus Event %d, time stamp %s",
                  received, stamp.c_str());
        g_receiveCount.store(0);
    }
    if (!record) {
        IOBOX_LOG(2, "iobox::CEventProcessManager::ReceiveAdamRawData", "alarm ptr is nullptr!");
        return true;
    }
    ProcSDKRawEventAsync(std::move(record));
    return true;
}

void CEventProcessManager::ProcSDKRawEventAsync(std::shared_ptr<CModbusAlarmInputInfo> record)
{
    bool posted = false;
    try {
        std::shared_ptr<Marl::Base::CTMTask> task = std::make_shared<CModbusAlarminputAlarmTask>(std::move(record));
        posted = Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance()->PostTask(std::move(task), false);
    } catch (const std::bad_alloc&) {
        posted = false;
    }
    if (!posted) {
        IOBOX_LOG(5, "iobox::CEventProcessManager::ProcSDKRawEventAsync", "Post Task Failed");
    }
}

} // namespace iobox
