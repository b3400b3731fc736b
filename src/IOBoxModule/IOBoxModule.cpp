#include "IOBoxModule/IOBoxModule.h"

#include "Access/Driver/SPDriverInterface.h"
#include "Access/TesselDetach/DeviceTesselDetach.h"
#include "Common/Constants.h"
#include "Common/Log.h"
#include "Communication/DeviceCommManager.h"
#include "EventManager/EventProcessManager.h"
#include "Marl/Base/Singleton.h"
#include "Marl/Base/ThreadManager.h"
#include "Operation/Impl/IOBoxCommonOperationImp.h"
#include "dam/LoginParamCreation.h"
#include "dam/Operation.h"
#include "dam/TesselDetach.h"

namespace iobox {

const char* const g_OperationManagerName = "iobox.d";

namespace {
CUnInitFunManager g_unInitFunManager;
}

CUnInitFunManager& ModuleUnInitRegistry() { return g_unInitFunManager; }

} // namespace iobox

using namespace iobox;

IOBOX_EXPORT bool Init(dam::IDriverInterfaceOperate* operate)
{
    static const char* const kFunc = "iobox::Init";
    IOBOX_LOG(3, kFunc, "init iobox.d begin.");
    if (operate == nullptr) {
        IOBOX_LOG(5, kFunc, "drive interface operate point is null!");
        return false;
    }
    std::shared_ptr<dam::IDriverManager> driverManager = operate->GetDriverManager();
    if (!driverManager) {
        IOBOX_LOG(5, kFunc, "Driver manager point is null!");
        return false;
    }

    // A failure from here on leaves what is registered registered and what is recorded recorded.
    auto driver = std::make_shared<CSPDriverInterface>();
    if (!driverManager->RegisterDriver(driver)) {
        IOBOX_LOG(5, kFunc, "Regesit iobox_interface failed!");
        return false;
    }
    std::shared_ptr<dam::CDriverInterface_Standard> registeredDriver = driver;
    g_unInitFunManager.AddUnInitFun(&dam::IDriverManager::UnRegisterDriver, driverManager, registeredDriver);

    if (!dam::LoginParamCreation::RegisterExtendLoginParamFactory(std::make_shared<CIOBoxLoginParamFactory>())) {
        IOBOX_LOG(5, kFunc, "RegisterExtendLoginParamFactory failed!");
        return false;
    }

    if (!dam::CDevcieTesselDetachMgr::RegisterTesselComm(kDeviceCategoryIOBox, kAccessProtocolModbus,
                                                         std::make_shared<CModbusTesselDetach>())) {
        IOBOX_LOG(5, kFunc, "RegisterTesselComm iobox failed.");
        return false;
    }

    // The host may refuse the operation interface; the plug-in works without it.
    Marl::Base::CSingleton<dam::COperationManager>::Instance()->RegisterOperateManager(
        g_OperationManagerName, std::make_shared<CIOBoxCommonOperaion>());

    CEventProcessManager* events = CEventProcessManager::Instance();
    if (!events->Init()) {
        IOBOX_LOG(5, kFunc, "Init CIOBoxOperationManager failed!");
        return false;
    }
    g_unInitFunManager.AddUnInitFun(&CEventProcessManager::UnInit, events);

    CDeviceCommManager* comm = CDeviceCommManager::Instance();
    if (!comm->Init()) {
        IOBOX_LOG(5, kFunc, "IOBOX communication failed.");
        return false;
    }
    g_unInitFunManager.AddUnInitFun(&CDeviceCommManager::UnInit, comm);

    IOBOX_LOG(3, kFunc, "init iobox.d end.");
    return true;
}

IOBOX_EXPORT bool SetProductVersion(void*, uint32_t) { return true; }

IOBOX_EXPORT bool Start()
{
    if (Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance()->GetAvailableThread(g_T_Iobox_EventFactory) == 0) {
        IOBOX_LOG(5, "iobox::Start", "Iobox Start Failed To GetAvailableThread g_T_Iobox_EventFactory");
        return false;
    }
    return true;
}

IOBOX_EXPORT bool Stop()
{
    Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance()->ReleaseThread(g_T_Iobox_EventFactory, false);
    return true;
}

IOBOX_EXPORT bool Unit()
{
    IOBOX_LOG(2, "iobox::Unit", "Unit iobox.d begin.");
    ModuleUnInitRegistry().UnintAll();
    IOBOX_LOG(2, "iobox::Unit", "Unit iobox.d  end.");
    return true;
}
