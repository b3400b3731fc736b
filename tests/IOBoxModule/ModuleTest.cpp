#include <gtest/gtest.h>

#include <functional>
#include <ostream>

#include "Access/CommonHelper/CommonHelper.h"
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
dam::COperationManager* Operations() { return Marl::Base::CSingleton<dam::COperationManager>::Instance(); }
bool CallbackRegistered() { return iobox::CTCPConnMgr::Instance()->GetAlarmCallback() != nullptr; }
bool HandlerRegistered() { return dam::CDevcieTesselDetachMgr::GetTesselComm(2005, 101) != nullptr; }
bool HasProxy()
{
    std::shared_ptr<iobox::CSPDeviceCommProxy> proxy;
    return iobox::CCommonHelper::GetCommPtr(proxy, testsupport::MakeIOBox(testsupport::IOBoxSetup{}));
}

// A host object whose driver manager the test chooses.
class FakeOperate : public dam::IDriverInterfaceOperate {
public:
    explicit FakeOperate(std::shared_ptr<dam::IDriverManager> manager) : m_manager(std::move(manager)) {}
    std::string GetHostVersion() override { return "test"; }
    std::shared_ptr<dam::IDriverManager> GetDriverManager() override { return m_manager; }

private:
    std::shared_ptr<dam::IDriverManager> m_manager;
};

TEST(Module, InitWithoutHostObjectOrDriverManagerFailsAndUnitHasNothingToUndo)
{
    testsupport::LogCapture log;
    FakeOperate noManager(nullptr);
    EXPECT_FALSE(Init(nullptr));
    EXPECT_FALSE(Init(&noManager));
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 4u) << log.Dump();
    EXPECT_TRUE(testsupport::MatchesLine(lines[0].text, "[iobox::Init]init iobox.d begin.", kSource));
    EXPECT_TRUE(log.HasLine(5, "[iobox::Init]drive interface operate point is null!", kSource));
    EXPECT_TRUE(log.HasLine(5, "[iobox::Init]Driver manager point is null!", kSource));
    EXPECT_EQ(iobox::ModuleUnInitRegistry().Size(), 0u);

    log.Clear();
    EXPECT_TRUE(Unit());
    ASSERT_EQ(log.Lines().size(), 2u) << log.Dump();
    EXPECT_TRUE(log.HasLine(2, "[iobox::Unit]Unit iobox.d begin.", kSource));
    EXPECT_EQ(log.Lines()[1].format, "[%s]Unit iobox.d  end.[%s(%d)]");
}

TEST(Module, StartReservesTheEventThreadUnlessTheHostGivesNone)
{
    testsupport::LogCapture log;
    Threads()->SetThreadLimit(0);
    EXPECT_FALSE(Start());
    EXPECT_TRUE(log.HasLine(5, "[iobox::Start]Iobox Start Failed To GetAvailableThread g_T_Iobox_EventFactory",
                            kSource))
        << log.Dump();
    EXPECT_EQ(Threads()->ReservedCount(), 0u);

    Threads()->SetThreadLimit(64);
    ASSERT_TRUE(Start());
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
}

// The host side of Init: a driver manager behind the host object, and the host's tables.
struct HostForInit {
    std::shared_ptr<dam::CDriverManager> drivers = std::make_shared<dam::CDriverManager>();
    dam::CDriverInterfaceOperate operate{drivers};
};

TEST(Module, InitRegistersEverythingAndUnitUndoesItsThreeStepsLastFirst)
{
    testsupport::LogCapture log;
    HostForInit host;
    ASSERT_TRUE(Init(&host.operate)) << log.Dump();
    EXPECT_TRUE(log.HasLine(3, "[iobox::Init]init iobox.d end.", kSource));

    ASSERT_EQ(host.drivers->Drivers().size(), 1u);
    EXPECT_EQ(host.drivers->Drivers()[0]->GetDriverName(), "iobox.d");
    EXPECT_EQ(host.drivers->GetDriver(2005, 101), host.drivers->Drivers()[0]);
    EXPECT_TRUE(std::dynamic_pointer_cast<dam::CModbusLoginParam>(dam::LoginParamCreation::CreateLoginParam(2005, 101)));
    EXPECT_TRUE(HandlerRegistered());
    EXPECT_TRUE(Operations()->GetOperateManager("iobox.d"));
    EXPECT_TRUE(CallbackRegistered());
    EXPECT_TRUE(HasProxy());

    const auto& names = iobox::ModuleUnInitRegistry().Names();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_NE(names[0].find("dam::IDriverManager::*"), std::string::npos) << names[0];
    EXPECT_NE(names[1].find("iobox::CEventProcessManager::*"), std::string::npos) << names[1];
    EXPECT_NE(names[2].find("iobox::CDeviceCommManager::*"), std::string::npos) << names[2];

    log.Clear();
    EXPECT_TRUE(Unit());
    const auto begins = log.WithFormat("[%s]UnInit Process %s Begin[%s(%d)]");
    ASSERT_EQ(begins.size(), 3u) << log.Dump();
    EXPECT_NE(begins[0].text.find("CDeviceCommManager"), std::string::npos);
    EXPECT_NE(begins[1].text.find("CEventProcessManager"), std::string::npos);
    EXPECT_NE(begins[2].text.find("IDriverManager"), std::string::npos);
    EXPECT_TRUE(host.drivers->Drivers().empty());
    EXPECT_FALSE(CallbackRegistered());
    EXPECT_FALSE(HasProxy());
    // The factory, the request handler and the operation interface stay registered.
    EXPECT_EQ(dam::LoginParamCreation::FactoryCount(), 1u);
    EXPECT_TRUE(HandlerRegistered());
}

// Which registration the host refuses, and what is then registered and recorded.
struct Refusal {
    const char* name;
    const char* line;
    std::function<void(HostForInit&)> refuse;
    std::size_t drivers, factories, steps;
};

void PrintTo(const Refusal& refusal, std::ostream* os) { *os << refusal.name; }

class ModuleRefusal : public ::testing::TestWithParam<Refusal> {};

TEST_P(ModuleRefusal, EndsInitKeepingWhatCameBefore)
{
    const Refusal& c = GetParam();
    testsupport::LogCapture log;
    HostForInit host;
    c.refuse(host);
    EXPECT_FALSE(Init(&host.operate));
    EXPECT_TRUE(log.HasLine(5, std::string("[iobox::Init]") + c.line, kSource)) << log.Dump();
    EXPECT_EQ(host.drivers->Drivers().size(), c.drivers);
    EXPECT_EQ(dam::LoginParamCreation::FactoryCount(), c.factories);
    EXPECT_EQ(iobox::ModuleUnInitRegistry().Size(), c.steps);
    EXPECT_FALSE(HandlerRegistered());
    EXPECT_FALSE(Operations()->GetOperateManager("iobox.d"));
    EXPECT_FALSE(CallbackRegistered());

    EXPECT_TRUE(Unit());
    EXPECT_TRUE(host.drivers->Drivers().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Registrations, ModuleRefusal,
    ::testing::Values(
        Refusal{"Driver", "Regesit iobox_interface failed!",
                [](HostForInit& h) { h.drivers->SetRefuseRegistration(true); }, 0, 0, 0},
        Refusal{"Factory", "RegisterExtendLoginParamFactory failed!",
                [](HostForInit&) { dam::LoginParamCreation::SetRefuseRegistration(true); }, 1, 0, 1},
        Refusal{"Handler", "RegisterTesselComm iobox failed.",
                [](HostForInit&) { dam::CDevcieTesselDetachMgr::SetRefuseRegistration(true); }, 1, 1, 1}),
    [](const ::testing::TestParamInfo<Refusal>& info) { return std::string(info.param.name); });

TEST(Module, ARefusedOperationInterfaceDoesNotStopInit)
{
    HostForInit host;
    Operations()->SetRefuseRegistration(true);
    EXPECT_TRUE(Init(&host.operate));
    EXPECT_FALSE(Operations()->GetOperateManager("iobox.d"));
    EXPECT_EQ(iobox::ModuleUnInitRegistry().Size(), 3u);
    EXPECT_TRUE(Unit());
}

} // namespace
