// The host's process-wide registration tables.
#include <map>
#include <mutex>
#include <shared_mutex>
#include <vector>

#include "Marl/Base/Singleton.h"
#include "dam/InterfaceManager.h"
#include "dam/LoginParamCreation.h"
#include "dam/Operation.h"
#include "dam/TesselDetach.h"

namespace dam {

namespace {

struct FactoryTable {
    std::mutex mutex;
    std::vector<std::shared_ptr<IExtendLoginParamFactory>> factories;
    bool refuse = false;
};
FactoryTable& Factories()
{
    static FactoryTable table;
    return table;
}

struct HandlerTable {
    std::mutex mutex;
    std::map<std::pair<int, int>, std::shared_ptr<CDeviceTesselDetach>> handlers;
    bool refuse = false;
};
HandlerTable& Handlers()
{
    static HandlerTable table;
    return table;
}

} // namespace

IExtendLoginParamFactory::~IExtendLoginParamFactory() = default;

bool LoginParamCreation::RegisterExtendLoginParamFactory(std::shared_ptr<IExtendLoginParamFactory> factory)
{
    FactoryTable& table = Factories();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (table.refuse || !factory) {
        return false;
    }
    table.factories.push_back(std::move(factory));
    return true;
}

std::shared_ptr<CBaseLoginParam> LoginParamCreation::CreateLoginParam(unsigned int category, unsigned int protocol)
{
    std::vector<std::shared_ptr<IExtendLoginParamFactory>> factories;
    {
        FactoryTable& table = Factories();
        std::lock_guard<std::mutex> lock(table.mutex);
        factories = table.factories;
    }
    for (const auto& factory : factories) {
        if (auto param = factory->CreateLoginParam(category, protocol)) {
            return param;
        }
    }
    return nullptr;
}

void LoginParamCreation::SetRefuseRegistration(bool refuse)
{
    FactoryTable& table = Factories();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.refuse = refuse;
}

std::size_t LoginParamCreation::FactoryCount()
{
    FactoryTable& table = Factories();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.factories.size();
}

void LoginParamCreation::Clear()
{
    std::vector<std::shared_ptr<IExtendLoginParamFactory>> dropped;
    FactoryTable& table = Factories();
    std::lock_guard<std::mutex> lock(table.mutex);
    dropped.swap(table.factories);
    table.refuse = false;
}

bool CDevcieTesselDetachMgr::RegisterTesselComm(int category, int protocol,
                                                std::shared_ptr<CDeviceTesselDetach> handler)
{
    HandlerTable& table = Handlers();
    std::lock_guard<std::mutex> lock(table.mutex);
    if (table.refuse || !handler) {
        return false;
    }
    table.handlers[std::make_pair(category, protocol)] = std::move(handler);
    return true;
}

std::shared_ptr<CDeviceTesselDetach> CDevcieTesselDetachMgr::GetTesselComm(int category, int protocol)
{
    HandlerTable& table = Handlers();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.handlers.find(std::make_pair(category, protocol));
    return it == table.handlers.end() ? nullptr : it->second;
}

void CDevcieTesselDetachMgr::SetRefuseRegistration(bool refuse)
{
    HandlerTable& table = Handlers();
    std::lock_guard<std::mutex> lock(table.mutex);
    table.refuse = refuse;
}

void CDevcieTesselDetachMgr::Clear()
{
    std::map<std::pair<int, int>, std::shared_ptr<CDeviceTesselDetach>> dropped;
    HandlerTable& table = Handlers();
    std::lock_guard<std::mutex> lock(table.mutex);
    dropped.swap(table.handlers);
    table.refuse = false;
}

bool COperationManager::RegisterOperateManager(const std::string& name,
                                               std::shared_ptr<CCommonOperationInterface_Standard> op)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_refuse || !op || name.empty()) {
        return false;
    }
    m_operations[name] = std::move(op);
    return true;
}

std::shared_ptr<CCommonOperationInterface_Standard> COperationManager::GetOperateManager(const std::string& name) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_operations.find(name);
    return it == m_operations.end() ? nullptr : it->second;
}

void COperationManager::SetRefuseRegistration(bool refuse)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_refuse = refuse;
}

void COperationManager::Clear()
{
    std::map<std::string, std::shared_ptr<CCommonOperationInterface_Standard>> dropped;
    std::lock_guard<std::mutex> lock(m_mutex);
    dropped.swap(m_operations);
    m_refuse = false;
}

#define INTERFACE_ACCESSORS(Type, Get, Set, member)                  \
    std::shared_ptr<Type> CIInterfaceManager::Get() const            \
    {                                                                \
        std::shared_lock<std::shared_mutex> lock(m_mutex);           \
        return member;                                               \
    }                                                                \
    void CIInterfaceManager::Set(std::shared_ptr<Type> value)        \
    {                                                                \
        std::unique_lock<std::shared_mutex> lock(m_mutex);           \
        member = std::move(value);                                   \
    }

INTERFACE_ACCESSORS(OstraPlatform::IDeviceManager, GetDeviceManager, SetDeviceManager, m_deviceManager)
INTERFACE_ACCESSORS(OstraPlatform::IAreaManager, GetAreaManager, SetAreaManager, m_areaManager)
INTERFACE_ACCESSORS(OstraPlatform::IUserSessionManager, GetUserSessionManager, SetUserSessionManager,
                    m_userSessionManager)
INTERFACE_ACCESSORS(OstraPlatform::IWriteOperationLog, GetWriteOperationLog, SetWriteOperationLog, m_operationLog)
INTERFACE_ACCESSORS(OstraPlatform::ICapactityManager, GetCapacityManager, SetCapacityManager, m_capacityManager)
#undef INTERFACE_ACCESSORS

void CIInterfaceManager::Clear()
{
    std::unique_lock<std::shared_mutex> lock(m_mutex);
    m_deviceManager.reset();
    m_areaManager.reset();
    m_userSessionManager.reset();
    m_operationLog.reset();
    m_capacityManager.reset();
}

} // namespace dam
