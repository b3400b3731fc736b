#include <gtest/gtest.h>

#include "IOBoxModule/IOBoxModule.h"
#include "Marl/Base/Singleton.h"
#include "Marl/Base/ThreadManager.h"
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

} // namespace
