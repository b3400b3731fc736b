#include <gtest/gtest.h>

#include "Access/CommonHelper/CommonHelper.h"
#include "Communication/DeviceCommManager.h"
#include "Communication/ModbusComm/TCPConnManager/TCPConnMgr.h"
#include "IOBoxModule/IOBoxModule.h"
#include "Marl/Base/Singleton.h"
#include "Marl/Base/ThreadManager.h"
#include "dam/LoginParamCreation.h"
#include "dam/Operation.h"
#include "dam/TesselDetach.h"
#include "support/IOBoxDevice.h"
#include "support/LogCapture.h"

namespace {

const char* const kSource = "src/IOBoxModule/IOBoxModule.cpp";

Marl::Base::CThreadManager* Threads() { return Marl::Base::CSingleton<Marl::Base::CThreadManager>::Instance(); }

// A host object whose driver manager the test chooses.
class FakeOperate : public dam::IDriverInterfaceOperate {
public:
    explicit FakeOperate(std::shared_ptr<dam::IDriverManager> manager) : m_manager(std::move(manager)) {}
    std::string GetHostVersion() override { return "test"; }
    std::shared_ptr<dam::IDriverManager> GetDriverManager() override
    {
        ++calls;
        return m_manager;
    }
    int calls = 0;

private:
    std::shared_ptr<dam::IDriverManager> m_manager;
};

TEST(Module, InitWithoutHostObjectFailsAndLeavesNothingToUndo)
{
    testsupport::LogCapture log;
    EXPECT_FALSE(Init(nullptr));
    EXPECT_TRUE(log.HasLine(3, "[iobox::Init]init iobox.d begin.", kSource));
    EXPECT_TRUE(log.HasLine(5, "[iobox::Init]drive interface operate point is null!", kSource)) << log.Dump();
    EXPECT_EQ(log.Lines().size(), 2u) << log.Dump();
    EXPECT_EQ(iobox::ModuleUnInitRegistry().Size(), 0u);

    log.Clear();
    EXPECT_TRUE(Unit());
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 2u) << log.Dump();
    EXPECT_TRUE(testsupport::MatchesLine(lines[0].text, "[iobox::Unit]Unit iobox.d begin.", kSource));
    EXPECT_EQ(lines[1].format, "[%s]Unit iobox.d  end.[%s(%d)]");
    EXPECT_TRUE(testsupport::MatchesLine(lines[1].text, "[iobox::Unit]Unit iobox.d  end.", kSource));
}

TEST(Module, InitWithoutDriverManagerFails)
{
    testsupport::LogCapture log;
    FakeOperate operate(nullptr);
    EXPECT_FALSE(Init(&operate));
    EXPECT_EQ(operate.calls, 1);
    EXPECT_TRUE(log.HasLine(5, "[iobox::Init]Driver manager point is null!", kSource)) << log.Dump();
    EXPECT_EQ(iobox::ModuleUnInitRegistry().Size(), 0u);
}

TEST(Module, SetProductVersionAcceptsAnything)
{
    int product = 0;
    EXPECT_TRUE(SetProductVersion(nullptr, 0));
    EXPECT_TRUE(SetProductVersion(&product, 0xFFFFFFFFu));
    EXPECT_EQ(product, 0);
}

TEST(Module, StartReservesTheEventThreadAndStopReleasesIt)
{
    testsupport::LogCapture log;
    ASSERT_TRUE(Start());
    EXPECT_EQ(Threads()->ReservedCount(), 1u);
    // The thread is there under its name: a task posted to it runs.
    struct Probe : Marl::Base::CTMTask {
        Probe() : CTMTask("iobox.d.EventFactory") {}
        void Run() override { ranOn = Marl::Base::CThreadManager::CurrentThreadName(); }
        std::string ranOn;
    };
    auto probe = std::make_shared<Probe>();
    ASSERT_TRUE(Threads()->PostTask(probe, false));
    EXPECT_TRUE(Stop()); // finishes the queued probe before the thread goes
    EXPECT_EQ(probe->ranOn, "iobox.d.EventFactory");
    EXPECT_EQ(Threads()->ReservedCount(), 0u);
    EXPECT_TRUE(Stop()); // releasing again is harmless
    EXPECT_EQ(log.Lines().size(), 0u) << log.Dump();
}

TEST(Module, StartFailsWhenTheHostGivesNoThread)
{
    testsupport::LogCapture log;
    Threads()->SetThreadLimit(0);
    EXPECT_FALSE(Start());
    EXPECT_TRUE(log.HasLine(5, "[iobox::Start]Iobox Start Failed To GetAvailableThread g_T_Iobox_EventFactory",
                            kSource))
        << log.Dump();
    Threads()->SetThreadLimit(64);
    EXPECT_TRUE(Start());
    EXPECT_TRUE(Stop());
}

// The host side of Init: a driver manager behind the host object, and the host's tables.
struct HostForInit {
    std::shared_ptr<dam::CDriverManager> drivers = std::make_shared<dam::CDriverManager>();
    dam::CDriverInterfaceOperate operate{drivers};

    static dam::COperationManager* Operations() { return Marl::Base::CSingleton<dam::COperationManager>::Instance(); }
    static bool CallbackRegistered() { return iobox::CTCPConnMgr::Instance()->GetAlarmCallback() != nullptr; }
};

TEST(ModuleInit, RegistersEverythingAndRecordsThreeShutdownSteps)
{
    testsupport::LogCapture log;
    HostForInit host;
    ASSERT_TRUE(Init(&host.operate)) << log.Dump();
    EXPECT_TRUE(log.HasLine(3, "[iobox::Init]init iobox.d end.", kSource));

    ASSERT_EQ(host.drivers->Drivers().size(), 1u);
    auto driver = host.drivers->Drivers()[0];
    EXPECT_EQ(driver->GetDriverName(), "iobox.d");
    EXPECT_EQ(host.drivers->GetDriver(2005, 101), driver);
    EXPECT_EQ(dam::LoginParamCreation::FactoryCount(), 1u);
    EXPECT_TRUE(std::dynamic_pointer_cast<dam::CModbusLoginParam>(dam::LoginParamCreation::CreateLoginParam(2005, 101)));
    EXPECT_TRUE(dam::CDevcieTesselDetachMgr::GetTesselComm(2005, 101));
    EXPECT_TRUE(HostForInit::Operations()->GetOperateManager("iobox.d"));
    EXPECT_TRUE(HostForInit::CallbackRegistered());
    std::shared_ptr<iobox::CSPDeviceCommProxy> proxy;
    EXPECT_TRUE(iobox::CCommonHelper::GetCommPtr(proxy, testsupport::MakeIOBox(testsupport::IOBoxSpec{})));

    const auto& names = iobox::ModuleUnInitRegistry().Names();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_NE(names[0].find("dam::IDriverManager::*"), std::string::npos) << names[0];
    EXPECT_NE(names[1].find("iobox::CEventProcessManager::*"), std::string::npos) << names[1];
    EXPECT_NE(names[2].find("iobox::CDeviceCommManager::*"), std::string::npos) << names[2];

    // Unit undoes them last first.
    log.Clear();
    EXPECT_TRUE(Unit());
    const auto begins = log.WithFormat("[%s]UnInit Process %s Begin[%s(%d)]");
    ASSERT_EQ(begins.size(), 3u) << log.Dump();
    EXPECT_NE(begins[0].text.find("CDeviceCommManager"), std::string::npos);
    EXPECT_NE(begins[1].text.find("CEventProcessManager"), std::string::npos);
    EXPECT_NE(begins[2].text.find("IDriverManager"), std::string::npos);
    EXPECT_TRUE(host.drivers->Drivers().empty());
    EXPECT_FALSE(HostForInit::CallbackRegistered());
    EXPECT_FALSE(iobox::CCommonHelper::GetCommPtr(proxy, testsupport::MakeIOBox(testsupport::IOBoxSpec{})));
    // The factory, the request handler and the operation interface stay registered.
    EXPECT_EQ(dam::LoginParamCreation::FactoryCount(), 1u);
    EXPECT_TRUE(dam::CDevcieTesselDetachMgr::GetTesselComm(2005, 101));

    // A second Unit walks the registry again but runs nothing twice.
    ASSERT_TRUE(host.drivers->RegisterDriver(driver));
    EXPECT_TRUE(Unit());
    EXPECT_EQ(host.drivers->Drivers().size(), 1u);
}

TEST(ModuleInit, RefusedDriverRegistrationRecordsNothing)
{
    testsupport::LogCapture log;
    HostForInit host;
    host.drivers->SetRefuseRegistration(true);
    EXPECT_FALSE(Init(&host.operate));
    EXPECT_TRUE(log.HasLine(5, "[iobox::Init]Regesit iobox_interface failed!", kSource)) << log.Dump();
    EXPECT_EQ(iobox::ModuleUnInitRegistry().Size(), 0u);
    EXPECT_EQ(dam::LoginParamCreation::FactoryCount(), 0u);
}

TEST(ModuleInit, RefusedFactoryKeepsTheDriverAndItsShutdownStep)
{
    testsupport::LogCapture log;
    HostForInit host;
    dam::LoginParamCreation::SetRefuseRegistration(true);
    EXPECT_FALSE(Init(&host.operate));
    EXPECT_TRUE(log.HasLine(5, "[iobox::Init]RegisterExtendLoginParamFactory failed!", kSource)) << log.Dump();
    EXPECT_EQ(host.drivers->Drivers().size(), 1u);
    EXPECT_EQ(iobox::ModuleUnInitRegistry().Size(), 1u);
    EXPECT_FALSE(dam::CDevcieTesselDetachMgr::GetTesselComm(2005, 101));
}

TEST(ModuleInit, RefusedHandlerLeavesDriverAndFactoryAndUnitRemovesTheDriver)
{
    testsupport::LogCapture log;
    HostForInit host;
    dam::CDevcieTesselDetachMgr::SetRefuseRegistration(true);
    EXPECT_FALSE(Init(&host.operate));
    EXPECT_TRUE(log.HasLine(5, "[iobox::Init]RegisterTesselComm iobox failed.", kSource)) << log.Dump();
    EXPECT_EQ(host.drivers->Drivers().size(), 1u);
    EXPECT_EQ(dam::LoginParamCreation::FactoryCount(), 1u);
    EXPECT_EQ(iobox::ModuleUnInitRegistry().Size(), 1u);
    EXPECT_FALSE(HostForInit::Operations()->GetOperateManager("iobox.d"));
    EXPECT_FALSE(HostForInit::CallbackRegistered());

    EXPECT_TRUE(Unit());
    EXPECT_TRUE(host.drivers->Drivers().empty());
}

TEST(ModuleInit, RefusedOperationInterfaceDoesNotStopInit)
{
    HostForInit host;
    HostForInit::Operations()->SetRefuseRegistration(true);
    EXPECT_TRUE(Init(&host.operate));
    EXPECT_FALSE(HostForInit::Operations()->GetOperateManager("iobox.d"));
    EXPECT_EQ(iobox::ModuleUnInitRegistry().Size(), 3u);
    EXPECT_TRUE(Unit());
}

} // namespace
