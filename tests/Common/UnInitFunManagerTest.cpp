#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "Common/UnInitFunManager.h"
#include "support/LogCapture.h"

namespace {

using iobox::CUnInitFunManager;

const char* const kSource = "src/Common/UnInitFunManager.cpp";
const char* const kBeginFormat = "[%s]UnInit Process %s Begin[%s(%d)]";
const char* const kFinishFormat = "[%s]UnInit Process %s Finish[%s(%d)]";
const char* const kSlowFormat = "[%s]The unit too slow, the fun is %s, time is %d[%s(%d)]";

// Records which steps ran, in order.
struct Steps {
    std::vector<std::string> ran;
    bool First() { ran.push_back("first"); return true; }
    bool Second(const std::string& tag) { ran.push_back("second:" + tag); return false; }
    bool Throws() { ran.push_back("throws"); throw std::runtime_error("boom"); }
};

// A clock the test moves by a fixed step at every reading made while a step runs.
struct FakeClock {
    uint64_t now = 1000;
    uint64_t Read() { return now; }
};

struct AdvanceBy {
    FakeClock* clock;
    uint64_t ms;
    bool Run() { clock->now += ms; return true; }
};

TEST(UnInitFunManager, RunsLastRecordedFirstAndLogsEveryStep)
{
    testsupport::LogCapture log;
    CUnInitFunManager registry;
    auto steps = std::make_shared<Steps>();
    registry.AddUnInitFun(&Steps::First, steps);
    registry.AddUnInitFun(&Steps::Second, steps, std::string("x"));
    ASSERT_EQ(registry.Size(), 2u);

    // Display names come from the member-function pointer's type: class and signature.
    EXPECT_NE(registry.Names()[0].find("Steps::*"), std::string::npos) << registry.Names()[0];
    EXPECT_NE(registry.Names()[1].find("std::"), std::string::npos) << registry.Names()[1];
    EXPECT_EQ(log.CountFormat("[%s]Fin Init Process %s[%s(%d)]"), 2u);
    EXPECT_TRUE(log.HasLine(2, "[iobox::CUnInitFunManager::AddUnInitFun]Fin Init Process " + registry.Names()[0],
                            "src/Common/UnInitFunManager.h"))
        << log.Dump();

    log.Clear();
    registry.UnintAll();
    EXPECT_EQ(steps->ran, (std::vector<std::string>{"second:x", "first"}));
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 4u) << log.Dump();
    EXPECT_EQ(lines[0].format, kBeginFormat);
    EXPECT_TRUE(testsupport::MatchesLine(
        lines[0].text, "[iobox::CUnInitFunManager::UnintAll]UnInit Process " + registry.Names()[1] + " Begin", kSource));
    EXPECT_EQ(lines[1].format, kFinishFormat);
    EXPECT_EQ(lines[2].format, kBeginFormat);
    EXPECT_TRUE(testsupport::MatchesLine(
        lines[3].text, "[iobox::CUnInitFunManager::UnintAll]UnInit Process " + registry.Names()[0] + " Finish", kSource));
    for (const auto& line : lines) {
        EXPECT_EQ(line.level, 2);
        EXPECT_EQ(line.module, "iobox.d");
    }
}

TEST(UnInitFunManager, ReportsOnlyStepsSlowerThanFiftyMilliseconds)
{
    struct Case {
        uint64_t elapsed;
        bool reported;
    };
    for (const Case c : {Case{0, false}, Case{50, false}, Case{51, true}, Case{5000, true}}) {
        testsupport::LogCapture log;
        auto clock = std::make_shared<FakeClock>();
        CUnInitFunManager registry([clock] { return clock->Read(); });
        registry.AddUnInitFun(&AdvanceBy::Run, std::make_shared<AdvanceBy>(AdvanceBy{clock.get(), c.elapsed}));
        log.Clear();
        registry.UnintAll();
        const auto slow = log.WithFormat(kSlowFormat);
        ASSERT_EQ(slow.size(), c.reported ? 1u : 0u) << "elapsed " << c.elapsed << "\n" << log.Dump();
        if (c.reported) {
            EXPECT_EQ(slow[0].level, 4);
            EXPECT_TRUE(testsupport::MatchesLine(slow[0].text,
                                                 "[iobox::CUnInitFunManager::UnintAll]The unit too slow, the fun is " +
                                                     registry.Names()[0] + ", time is " + std::to_string(c.elapsed),
                                                 kSource))
                << slow[0].text;
        }
    }
}

TEST(UnInitFunManager, AThrowingStepDoesNotStopTheOthers)
{
    testsupport::LogCapture log;
    CUnInitFunManager registry;
    auto steps = std::make_shared<Steps>();
    registry.AddUnInitFun(&Steps::First, steps);
    registry.AddUnInitFun(&Steps::Throws, steps);
    registry.AddUnInitFun(&Steps::Second, steps, std::string("y"));
    EXPECT_NO_THROW(registry.UnintAll());
    EXPECT_EQ(steps->ran, (std::vector<std::string>{"second:y", "throws", "first"}));
    EXPECT_EQ(log.CountFormat(kFinishFormat), 3u);
}

TEST(UnInitFunManager, EachStepRunsOnceEvenWhenRunAgain)
{
    testsupport::LogCapture log;
    CUnInitFunManager registry;
    auto steps = std::make_shared<Steps>();
    registry.AddUnInitFun(&Steps::First, steps);
    registry.UnintAll();
    EXPECT_NO_THROW(registry.UnintAll());
    EXPECT_EQ(steps->ran, (std::vector<std::string>{"first"}));
    // The registry is not emptied: the second walk still logs its steps.
    EXPECT_EQ(registry.Size(), 1u);
    EXPECT_EQ(log.CountFormat(kBeginFormat), 2u);
}

TEST(UnInitFunManager, KeepsTheBoundObjectsAlive)
{
    CUnInitFunManager registry;
    std::weak_ptr<Steps> watch;
    {
        auto steps = std::make_shared<Steps>();
        watch = steps;
        registry.AddUnInitFun(&Steps::First, steps);
    }
    EXPECT_FALSE(watch.expired());
    registry.UnintAll();
    EXPECT_FALSE(watch.expired());
}

} // namespace
