#include <gtest/gtest.h>

#include <memory>

#include "Marl/Base/Singleton.h"
#include "dam/DriverInterface.h"
#include "dam/LoginParamCreation.h"
#include "dam/Operation.h"
#include "dam/TesselDetach.h"
#include "support/ModuleLoader.h"

namespace {

using InitFn = bool(dam::IDriverInterfaceOperate*);

TEST(ModuleLoad, ResolvesTheFiveEntryPointsByName)
{
    testsupport::LoadedModule module(IOBOX_MODULE_PATH);
    ASSERT_TRUE(module.IsOpen()) << module.Error();
    for (const char* name : {"Init", "SetProductVersion", "Start", "Stop", "Unit"}) {
        EXPECT_NE(module.Symbol(name), nullptr) << name;
    }
    // Plug-in internals stay hidden.
    EXPECT_EQ(module.Symbol("_ZN5iobox20ModuleUnInitRegistryEv"), nullptr);

    auto setProductVersion = module.Entry<bool(void*, uint32_t)>("SetProductVersion");
    auto init = module.Entry<InitFn>("Init");
    ASSERT_NE(setProductVersion, nullptr);
    ASSERT_NE(init, nullptr);
    EXPECT_TRUE(setProductVersion(nullptr, 0));
    EXPECT_FALSE(init(nullptr));
    EXPECT_TRUE(module.Close());
}

// The loaded plug-in registers into the host's one set of managers: what it registered at Init
// is what this process reaches through its own references, and its objects are recognised here
// by type. A module with managers of its own would register where no one looks.
TEST(ModuleLoad, ThePluginAndTheProcessShareTheHostsManagers)
{
    auto* operations = Marl::Base::CSingleton<dam::COperationManager>::Instance();
    auto drivers = std::make_shared<dam::CDriverManager>();
    dam::CDriverInterfaceOperate operate(drivers);
    testsupport::LoadedModule module(IOBOX_MODULE_PATH);
    ASSERT_TRUE(module.IsOpen()) << module.Error();
    auto init = module.Entry<InitFn>("Init");
    auto unit = module.Entry<bool()>("Unit");
    ASSERT_TRUE(init && unit);
    ASSERT_TRUE(init(&operate));

    EXPECT_NE(drivers->GetDriver(2005, 101), nullptr);
    EXPECT_NE(operations->GetOperateManager("iobox.d"), nullptr);
    EXPECT_NE(dam::CDevcieTesselDetachMgr::GetTesselComm(2005, 101), nullptr);
    EXPECT_EQ(dam::LoginParamCreation::FactoryCount(), 1u);
    EXPECT_NE(std::dynamic_pointer_cast<dam::CModbusLoginParam>(dam::LoginParamCreation::CreateLoginParam(2005, 101)),
              nullptr);

    EXPECT_TRUE(unit());
    EXPECT_EQ(drivers->GetDriver(2005, 101), nullptr);
    // The host lets go of the plug-in's objects before it unloads the plug-in.
    dam::LoginParamCreation::Clear();
    dam::CDevcieTesselDetachMgr::Clear();
    operations->Clear();
    EXPECT_TRUE(module.Close());
}

} // namespace
