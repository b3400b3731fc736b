#include "IOBoxModule/IOBoxModule.h"

#include "Common/Log.h"
#include "Marl/Base/Singleton.h"
#include "Marl/Base/ThreadManager.h"

namespace iobox {

const char* const g_T_Iobox_EventFactory = "iobox.d.EventFactory";
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
