#pragma once
// The host's side of the plug-in contract, for one I/O box: the library loaded at run time, the
// platform managers the plug-in reaches, and the calls the host makes in the host's order.
// Each call reports what the host would learn; nothing here prints.

#include "HostText.h"

#include "OstraPlatform/HostManagers.h"
#include "OstraPlatform/PlatformCodes.h"
#include "dam/DriverInterface.h"
#include "dam/LoginParam.h"
#include "dam/Operation.h"
#include "dam/Strategy.h"
#include "dam/TesselDetach.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace iobox::host {

// A failure as the host sees it: the last error the plug-in left, and what failed.
struct HostError {
    int module = 0;
    int code = 0;
    bool hasCode = false;     // the plug-in left an error code
    bool fromPlugin = false;  // a plug-in call failed; otherwise the host could not make the call
    std::string what;
    std::string Text() const;
};

class EmulatedHost {
public:
    // Called on the plug-in's worker thread for every event delivered to the host.
    using EventObserver = std::function<void(const std::string& json)>;
    // Called on a connection's poll thread for every device-status notification.
    using StatusObserver = std::function<void(unsigned int msgType, int deviceId, int statusCode)>;

    static constexpr int kDeviceId = 41;
    static constexpr int kCategory = OstraPlatform::DEVICE_CATEGORY_ALARM_HOST;
    static constexpr int kProtocol = OstraPlatform::ACCESS_PROTOCOL_MODBUS_TCP;
    static constexpr int kInputChannel = OstraPlatform::CHANNEL_TYPE_ALARM_INPUT;
    static constexpr int kOutputChannel = OstraPlatform::CHANNEL_TYPE_ALARM_OUTPUT;
    static constexpr unsigned int kDeleteLogType = OstraPlatform::OPERATION_LOG_DEVICE_DELETE;

    EmulatedHost(EventObserver onEvent, StatusObserver onStatus);
    // Finishes whatever the caller left: logout, delete, Stop, Unit, unload.
    ~EmulatedHost();
    EmulatedHost(const EmulatedHost&) = delete;
    EmulatedHost& operator=(const EmulatedHost&) = delete;

    // ---- the library ----------------------------------------------------------------------
    // The names the host resolves, in the order it calls them.
    static constexpr const char* kEntryPoints[] = {"Init", "SetProductVersion", "Start", "Stop", "Unit"};
    // False with the loader's reason, or the entry points that are missing, in `error`.
    bool Load(const std::string& path, std::string& error);
    bool Loaded() const { return m_library != nullptr; }
    bool InitCalled() const { return m_initCalled && !m_unitDone; }
    bool Started() const { return m_started; }

    // ---- the five entry points (only after Load) ------------------------------------------
    bool Init();
    bool SetProductVersion(std::uint32_t version);
    bool Start();
    bool Stop();
    bool Unit();
    // What Init left registered with the host, one description a line.
    std::vector<std::string> Registrations() const;
    std::size_t DriverCount() const { return m_drivers->Drivers().size(); }

    // ---- one device -----------------------------------------------------------------------
    // The add request through the handler registered for category 2005 / protocol 101.
    bool ValidateAddRequest(const std::string& json, std::shared_ptr<dam::CModbusLoginParam>& out,
                            HostError& error);
    // The host creates its device from the validated parameters and keeps it.
    void AddDevice(std::shared_ptr<dam::CModbusLoginParam> param, const std::string& name);
    bool Login(HostError& error);
    bool Logout(HostError& error);
    // Through the handler, as the operator's delete request does.
    bool DeleteDevice(HostError& error);

    int DeviceHandle() const;
    int SubCategory() const;
    bool Online() const;
    bool LoggedIn() const { return m_loggedIn; }
    bool DeviceAdded() const { return m_deviceAdded; }
    std::vector<ChannelEntry> Channels(int channelType) const;
    std::vector<OstraPlatform::COperationLogWriter::Entry> OperationLog() const;

    // ---- operations through the interface registered as "iobox.d" --------------------------
    bool ReadOutputs(std::vector<OutputState>& out, HostError& error);
    // outputNo is the box's 1-based number; the host speaks in its channel id.
    bool SwitchOutput(int outputNo, bool on, HostError& error);
    // The host channel id of the box's output, 0 when there is none.
    unsigned int OutputChannelId(int outputNo) const;

    // ---- unloading ------------------------------------------------------------------------
    // Lets go of everything the plug-in made, then unloads the library; 0 when it was unloaded.
    int Unload();

    // ---- what the host received -------------------------------------------------------------
    std::uint64_t EventCount() const { return m_events.load(); }
    std::uint64_t OfflineCount() const { return m_offline.load(); }
    std::uint64_t OnlineCount() const { return m_online.load(); }
    // The content of the latest event, as delivered.
    std::string LastEventJson() const;

private:
    std::shared_ptr<dam::CCommonOperationInterface_Standard> Operations() const;
    // The operation interface when a device is there to operate on; else empty with the reason.
    std::shared_ptr<dam::CCommonOperationInterface_Standard> OperationsFor(HostError& error) const;

    EventObserver m_onEvent;
    StatusObserver m_onStatus;

    std::shared_ptr<OstraPlatform::CDeviceManager> m_deviceManager;
    std::shared_ptr<OstraPlatform::CAreaManager> m_areaManager;
    std::shared_ptr<OstraPlatform::CUserSessionManager> m_sessions;
    std::shared_ptr<OstraPlatform::COperationLogWriter> m_operationLog;
    std::shared_ptr<OstraPlatform::CCapacityManager> m_capacity;
    std::shared_ptr<dam::CDriverManager> m_drivers;
    std::unique_ptr<dam::CDriverInterfaceOperate> m_operate;

    void* m_library = nullptr;
    bool (*m_init)(dam::IDriverInterfaceOperate*) = nullptr;
    bool (*m_setProductVersion)(void*, std::uint32_t) = nullptr;
    bool (*m_start)() = nullptr;
    bool (*m_stop)() = nullptr;
    bool (*m_unit)() = nullptr;
    bool m_initCalled = false;
    bool m_started = false;
    bool m_unitDone = false;

    std::shared_ptr<dam::CDevice> m_device;
    std::shared_ptr<dam::CBaseStrategy> m_strategy;
    bool m_loggedIn = false;
    bool m_deviceAdded = false;

    mutable std::mutex m_lastEventMutex;
    std::string m_lastEventJson;
    std::atomic<std::uint64_t> m_events{0};
    std::atomic<std::uint64_t> m_offline{0};
    std::atomic<std::uint64_t> m_online{0};
};

} // namespace iobox::host
