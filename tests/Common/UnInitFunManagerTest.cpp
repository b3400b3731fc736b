#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Common/UnInitFunManager.h"
#include "support/LogCapture.h"
#include "support/Process.h"

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

TEST(UnInitFunManager, RunsLastRecordedFirstAndLogsEveryStepByItsName)
{
    testsupport::LogCapture log;
    CUnInitFunManager registry;
    auto steps = std::make_shared<Steps>();
    registry.AddUnInitFun(&Steps::First, steps);
    registry.AddUnInitFun(&Steps::Second, steps, std::string("x"));
    ASSERT_EQ(registry.Size(), 2u);

    // Display names come from the member-function pointer's type: class and signature. Wine's
    // ucrtbase cannot undecorate pointer-to-member types and gives the decorated name
    // ("P8Steps@..."), where Windows' runtime gives "bool (__cdecl Steps::*)(void)".
    if (!(testsupport::RunsUnderWine() && registry.Names()[0].rfind("P8", 0) == 0)) {
        EXPECT_NE(registry.Names()[0].find("Steps::*"), std::string::npos) << registry.Names()[0];
        EXPECT_NE(registry.Names()[1].find("std::"), std::string::npos) << registry.Names()[1];
    }
    EXPECT_TRUE(log.HasLine(2, "[iobox::CUnInitFunManager::AddUnInitFun]Fin Init Process " + registry.Names()[0],
                            "src/Common/UnInitFunManager.h"))
        << log.Dump();

    log.Clear();
    registry.UnintAll();
    EXPECT_EQ(steps->ran, (std::vector<std::string>{"second:x", "first"}));
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), 4u) << log.Dump();
    const std::string head = "[iobox::CUnInitFunManager::UnintAll]UnInit Process ";
    const std::string expected[] = {head + registry.Names()[1] + " Begin", head + registry.Names()[1] + " Finish",
                                    head + registry.Names()[0] + " Begin", head + registry.Names()[0] + " Finish"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].format, i % 2 == 0 ? kBeginFormat : kFinishFormat);
        EXPECT_TRUE(testsupport::MatchesLine(lines[i].text, expected[i], kSource)) << lines[i].text;
        EXPECT_EQ(lines[i].level, 2);
        EXPECT_EQ(lines[i].module, "iobox.d");
    }
}

// A step that moves the registry's clock by the given time.
struct AdvanceBy {
    uint64_t* clock;
    uint64_t ms;
    bool Run() { *clock += ms; return true; }
};

TEST(UnInitFunManager, ReportsOnlyStepsSlowerThanFiftyMilliseconds)
{
    for (const uint64_t elapsed : {50u, 51u}) {
        testsupport::LogCapture log;
        auto clock = std::make_shared<uint64_t>(1000);
        CUnInitFunManager registry([clock] { return *clock; });
        registry.AddUnInitFun(&AdvanceBy::Run, std::make_shared<AdvanceBy>(AdvanceBy{clock.get(), elapsed}));
        registry.UnintAll();
        const auto slow = log.WithFormat(kSlowFormat);
        ASSERT_EQ(slow.size(), elapsed > 50 ? 1u : 0u) << elapsed << "\n" << log.Dump();
        if (!slow.empty()) {
            EXPECT_EQ(slow[0].level, 4);
            EXPECT_TRUE(testsupport::MatchesLine(slow[0].text,
                                                 "[iobox::CUnInitFunManager::UnintAll]The unit too slow, the fun is " +
                                                     registry.Names()[0] + ", time is 51",
                                                 kSource))
                << slow[0].text;
        }
    }
}

TEST(UnInitFunManager, AThrowingStepDoesNotStopTheOthersAndEachStepRunsOnce)
{
    testsupport::LogCapture log;
    CUnInitFunManager registry;
    auto steps = std::make_shared<Steps>();
    registry.AddUnInitFun(&Steps::First, steps);
    registry.AddUnInitFun(&Steps::Throws, steps);
    registry.AddUnInitFun(&Steps::Second, steps, std::string("y"));
    // The registry keeps the bound object alive.
    const std::weak_ptr<Steps> watch = steps;
    Steps* const raw = steps.get();
    steps.reset();
    ASSERT_FALSE(watch.expired());
    EXPECT_NO_THROW(registry.UnintAll());
    EXPECT_EQ(raw->ran, (std::vector<std::string>{"second:y", "throws", "first"}));
    EXPECT_EQ(log.CountFormat(kFinishFormat), 3u);

    // A second walk logs the steps again but runs none of them.
    EXPECT_NO_THROW(registry.UnintAll());
    EXPECT_EQ(raw->ran.size(), 3u);
    EXPECT_EQ(log.CountFormat(kBeginFormat), 6u);
}

} // namespace
