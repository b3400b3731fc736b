#include "EmulatedHost.h"
#include "HostPlatform.h"

#include "Marl/Base/Error.h"
#include "Marl/Base/GuidUtil.h"
#include "Marl/Base/Singleton.h"
#include "dam/InterfaceManager.h"
#include "dam/LoginParamCreation.h"
#include "proto/RapidJsonProto.h"

#include <algorithm>

namespace iobox::host {

namespace {

const char* const kUserSession = "iobox-host-operator";
const char* const kOperationName = "iobox.d";

dam::COperationManager& OperationManager()
{
    return *Marl::Base::CSingleton<dam::COperationManager>::Instance();
}

void ClearLastError() { Marl::Base::Error::SetLastError(Marl::Base::Error::ErrorCode()); }

// The plug-in's last error after a failed call; `hasCode` only when it set one.
HostError LastError(const std::string& what)
{
    const auto e = Marl::Base::Error::GetLastError();
    HostError error;
    error.module = e.GetModule();
    error.code = e.GetCode();
    error.hasCode = e != Marl::Base::Error::ErrorCode();
    error.fromPlugin = true;
    error.what = what;
    return error;
}

HostError HostSide(const std::string& what)
{
    HostError error;
    error.what = what;
    return error;
}

template <class F>
F Resolve(void* library, const char* name)
{
    return reinterpret_cast<F>(platform::ModuleSymbol(library, name));
}

} // namespace

std::string HostError::Text() const
{
    if (hasCode) {
        return what + ": " + ErrorText(module, code);
    }
    return fromPlugin ? what + " (the plug-in left no error code)" : what;
}

EmulatedHost::EmulatedHost(EventObserver onEvent, StatusObserver onStatus)
    : m_onEvent(std::move(onEvent)),
      m_onStatus(std::move(onStatus)),
      m_deviceManager(std::make_shared<OstraPlatform::CDeviceManager>()),
      m_areaManager(std::make_shared<OstraPlatform::CAreaManager>()),
      m_sessions(std::make_shared<OstraPlatform::CUserSessionManager>()),
      m_operationLog(std::make_shared<OstraPlatform::COperationLogWriter>()),
      m_capacity(std::make_shared<OstraPlatform::CCapacityManager>()),
      m_drivers(std::make_shared<dam::CDriverManager>()),
      m_operate(std::make_unique<dam::CDriverInterfaceOperate>(m_drivers))
{
    // Long runs keep counts, not every event.
    m_capacity->SetKeepEvents(false);
    m_capacity->SetObserver([this](const OstraPlatform::CCapacityManager::Event& event) {
        {
            std::lock_guard<std::mutex> lock(m_lastEventMutex);
            m_lastEventJson = event.json;
        }
        ++m_events;
        if (m_onEvent) {
            m_onEvent(event.json);
        }
    });
    m_deviceManager->SetStatusObserver([this](const OstraPlatform::CDeviceManager::StatusRecord& record) {
        if (record.statusCode == OstraPlatform::DEVICE_STATUS_OFFLINE) {
            ++m_offline;
        } else if (record.statusCode == OstraPlatform::DEVICE_STATUS_ONLINE) {
            ++m_online;
        }
        if (m_onStatus) {
            m_onStatus(record.msgType, record.deviceId, record.statusCode);
        }
    });
    auto* interfaces = Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance();
    interfaces->SetDeviceManager(m_deviceManager);
    interfaces->SetAreaManager(m_areaManager);
    interfaces->SetUserSessionManager(m_sessions);
    interfaces->SetWriteOperationLog(m_operationLog);
    interfaces->SetCapacityManager(m_capacity);
}

EmulatedHost::~EmulatedHost()
{
    HostError ignored;
    if (m_loggedIn) {
        Logout(ignored);
    }
    if (m_deviceAdded) {
        DeleteDevice(ignored);
    }
    if (m_started) {
        Stop();
    }
    if (m_initCalled && !m_unitDone) {
        Unit();
    }
    Unload();
    m_capacity->SetObserver(nullptr);
    m_deviceManager->SetStatusObserver(nullptr);
    Marl::Base::CSingleton<dam::CIInterfaceManager>::Instance()->Clear();
}

bool EmulatedHost::Load(const std::string& path, std::string& error)
{
    void* library = platform::OpenModule(path, error);
    if (library == nullptr) {
        return false;
    }
    m_init = Resolve<bool (*)(dam::IDriverInterfaceOperate*)>(library, "Init");
    m_setProductVersion = Resolve<bool (*)(void*, std::uint32_t)>(library, "SetProductVersion");
    m_start = Resolve<bool (*)()>(library, "Start");
    m_stop = Resolve<bool (*)()>(library, "Stop");
    m_unit = Resolve<bool (*)()>(library, "Unit");
    if (!m_init || !m_setProductVersion || !m_start || !m_stop || !m_unit) {
        std::string missing;
        for (const char* name : kEntryPoints) {
            if (platform::ModuleSymbol(library, name) == nullptr) {
                missing += (missing.empty() ? "" : ", ") + std::string(name);
            }
        }
        error = "the library does not export " + missing;
        platform::CloseModule(library);
        m_init = nullptr;
        return false;
    }
    m_library = library;
    return true;
}

bool EmulatedHost::Init()
{
    m_initCalled = true;
    return m_init(m_operate.get());
}

bool EmulatedHost::SetProductVersion(std::uint32_t version) { return m_setProductVersion(nullptr, version); }

bool EmulatedHost::Start()
{
    m_started = m_start();
    return m_started;
}

bool EmulatedHost::Stop()
{
    m_started = false;
    return m_stop();
}

bool EmulatedHost::Unit()
{
    m_unitDone = true;
    return m_unit();
}

std::vector<std::string> EmulatedHost::Registrations() const
{
    std::vector<std::string> lines;
    for (const auto& driver : m_drivers->Drivers()) {
        std::string categories;
        for (const auto category : driver->GetSupportDeviceCategories()) {
            for (const auto protocol : driver->GetSupportAccessProtocols(category)) {
                categories += (categories.empty() ? "" : ", ") + std::to_string(category) + "/" +
                    std::to_string(protocol);
            }
        }
        lines.push_back("driver \"" + driver->GetDriverName() + "\" for category/protocol " + categories);
    }
    if (dam::LoginParamCreation::CreateLoginParam(kCategory, kProtocol)) {
        lines.push_back("login-parameter factory for 2005/101");
    }
    if (dam::CDevcieTesselDetachMgr::GetTesselComm(kCategory, kProtocol)) {
        lines.push_back("device management handler for 2005/101");
    }
    if (Operations()) {
        lines.push_back(std::string("operation interface \"") + kOperationName + "\"");
    }
    return lines;
}

bool EmulatedHost::ValidateAddRequest(const std::string& json, std::shared_ptr<dam::CModbusLoginParam>& out,
                                      HostError& error)
{
    auto handler = dam::CDevcieTesselDetachMgr::GetTesselComm(kCategory, kProtocol);
    if (!handler) {
        error = HostSide("no device management handler is registered for 2005/101");
        return false;
    }
    proto::CRapidJsonProto request;
    if (!request.set_str(json)) {
        error = HostSide("the add request is not JSON");
        return false;
    }
    std::shared_ptr<dam::CBaseLoginParam> param;
    ClearLastError();
    if (!handler->ParsePostSingleDeviceLoginParam(param, &request, kUserSession)) {
        error = LastError("the plug-in refused the add request");
        return false;
    }
    out = std::dynamic_pointer_cast<dam::CModbusLoginParam>(param);
    if (!out) {
        error = HostSide("the validated parameters are not Modbus login parameters");
        return false;
    }
    return true;
}

void EmulatedHost::AddDevice(std::shared_ptr<dam::CModbusLoginParam> param, const std::string& name)
{
    dam::DeviceInfo info;
    info.id = kDeviceId;
    info.guid = Marl::Base::GuidUtil::CreateGuid();
    info.category = kCategory;
    info.protocol = kProtocol;
    info.name = name;
    info.manufacturer = param->GetVal_company_type();
    info.loginParam = std::move(param);
    m_device = std::make_shared<dam::CDevice>(info);
    m_deviceManager->AddDevice(m_device);
    m_deviceAdded = true;
}

bool EmulatedHost::Login(HostError& error)
{
    if (!m_device) {
        error = HostSide("no device was added");
        return false;
    }
    auto driver = m_drivers->GetDriver(kCategory, kProtocol);
    if (!driver) {
        error = HostSide("no driver is registered for 2005/101");
        return false;
    }
    m_strategy = driver->CreateStrategy(m_device);
    if (!m_strategy) {
        error = HostSide("the driver made no strategy for the device");
        return false;
    }
    ClearLastError();
    if (!m_strategy->Login()) {
        error = LastError("login failed");
        return false;
    }
    m_loggedIn = true;
    m_device->SetOnline(true);
    return true;
}

bool EmulatedHost::Logout(HostError& error)
{
    if (!m_strategy) {
        error = HostSide("the device was not logged in");
        return false;
    }
    m_loggedIn = false;
    ClearLastError();
    if (!m_strategy->Logout()) {
        error = LastError("logout failed");
        return false;
    }
    m_device->SetOnline(false);
    return true;
}

bool EmulatedHost::DeleteDevice(HostError& error)
{
    auto handler = dam::CDevcieTesselDetachMgr::GetTesselComm(kCategory, kProtocol);
    if (!handler) {
        error = HostSide("no device management handler is registered for 2005/101");
        return false;
    }
    m_deviceAdded = false;
    unsigned int module = 0;
    unsigned int code = 0;
    ClearLastError();
    if (!handler->DeleteDevice(module, code, {static_cast<unsigned int>(kDeviceId)}, kUserSession)) {
        error = LastError("delete failed");
        // The handler reports a missing device through its out-arguments.
        if (code != 0) {
            error.module = static_cast<int>(module);
            error.code = static_cast<int>(code);
            error.hasCode = true;
        }
        return false;
    }
    return true;
}

int EmulatedHost::DeviceHandle() const { return m_device ? m_device->GetDeviceHandle() : -1; }
int EmulatedHost::SubCategory() const { return m_device ? m_device->GetSubCategory() : 0; }
bool EmulatedHost::Online() const { return m_device && m_device->IsOnline(); }

std::vector<ChannelEntry> EmulatedHost::Channels(int channelType) const
{
    std::vector<ChannelEntry> entries;
    if (m_device) {
        for (const auto& channel : m_device->GetChannels(channelType)) {
            entries.push_back(ChannelEntry{channel->GetNo(), channel->GetID(), channel->GetName()});
        }
    }
    std::sort(entries.begin(), entries.end(), [](const ChannelEntry& a, const ChannelEntry& b) { return a.no < b.no; });
    return entries;
}

std::string EmulatedHost::LastEventJson() const
{
    std::lock_guard<std::mutex> lock(m_lastEventMutex);
    return m_lastEventJson;
}

std::vector<OstraPlatform::COperationLogWriter::Entry> EmulatedHost::OperationLog() const
{
    return m_operationLog->Entries();
}

std::shared_ptr<dam::CCommonOperationInterface_Standard> EmulatedHost::Operations() const
{
    return OperationManager().GetOperateManager(kOperationName);
}

std::shared_ptr<dam::CCommonOperationInterface_Standard> EmulatedHost::OperationsFor(HostError& error) const
{
    auto ops = Operations();
    if (!ops || !m_device) {
        error = HostSide(ops ? "no device was added" : "no operation interface \"iobox.d\" is registered");
        return nullptr;
    }
    return ops;
}

unsigned int EmulatedHost::OutputChannelId(int outputNo) const
{
    for (const auto& entry : Channels(kOutputChannel)) {
        if (entry.no == outputNo) {
            return entry.id;
        }
    }
    return 0;
}

bool EmulatedHost::ReadOutputs(std::vector<OutputState>& out, HostError& error)
{
    auto ops = OperationsFor(error);
    if (!ops) {
        return false;
    }
    std::vector<std::shared_ptr<dam::CAlarmOutputStatus>> statuses;
    ClearLastError();
    const bool ok = ops->GetAlarmOutputStatus(statuses, m_device);
    // The operation succeeds with what it could map even when the box did not answer; the
    // plug-in's last error tells the two apart.
    const HostError last = LastError("reading the outputs failed");
    if (!ok || (statuses.empty() && last.hasCode)) {
        error = last;
        return false;
    }
    out.clear();
    for (const auto& status : statuses) {
        auto channel = m_device->GetChannelByID(status->GetAlarmOutputID(), kOutputChannel);
        out.push_back(
            OutputState{channel ? channel->GetNo() : 0, status->GetAlarmOutputID(), status->GetStatus() == 1});
    }
    return true;
}

bool EmulatedHost::SwitchOutput(int outputNo, bool on, HostError& error)
{
    auto ops = OperationsFor(error);
    if (!ops) {
        return false;
    }
    const unsigned int channelId = OutputChannelId(outputNo);
    if (channelId == 0) {
        error = HostSide("the device has no output " + std::to_string(outputNo));
        return false;
    }
    ClearLastError();
    if (!ops->SetAlarmOutStatus(channelId, on ? 1u : 0u, m_device)) {
        error = LastError("switching output " + std::to_string(outputNo) + " failed");
        return false;
    }
    return true;
}

int EmulatedHost::Unload()
{
    // Everything the plug-in allocated (strategy, login parameters, channel objects held by the
    // device's features, registered objects) must be gone before its code is.
    m_strategy.reset();
    if (m_device) {
        m_deviceManager->DeleteDeviceByID(kDeviceId, kCategory);
        m_device.reset();
    }
    dam::LoginParamCreation::Clear();
    dam::CDevcieTesselDetachMgr::Clear();
    OperationManager().Clear();
    m_drivers->Clear();
    if (m_library == nullptr) {
        return 0;
    }
    const int rc = platform::CloseModule(m_library);
    m_library = nullptr;
    return rc;
}

} // namespace iobox::host
