#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "Common/Timer.h"
#include "support/LogCapture.h"
#include "support/Process.h"

namespace {

using iobox::CTimer;
using testsupport::ThreadCount;
using testsupport::WaitFor;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr auto kPatience = std::chrono::seconds(5);


TEST(Timer, NoPeriodStartsNoThread)
{
    for (uint32_t period : {0U, 0xFFFFFFFFU}) {
        std::atomic<int> runs{0};
        const int threads = testsupport::BaselineThreadCount();
        CTimer timer([&]() { ++runs; });
        timer.Start(period, true);
        EXPECT_EQ(ThreadCount(), threads) << period;
        timer.Stop();
        EXPECT_EQ(runs, 0) << period;
    }
}

TEST(Timer, StopEndsALongPauseAtOnce)
{
    for (bool runFirst : {true, false}) {
        std::atomic<int> runs{0};
        const int threads = testsupport::BaselineThreadCount();
        CTimer timer([&]() { ++runs; });
        timer.Start(60000, runFirst);
        EXPECT_EQ(ThreadCount(), threads + 1);
        ASSERT_TRUE(WaitFor([&]() { return runs == (runFirst ? 1 : 0); }, kPatience));

        const auto start = Clock::now();
        timer.Stop();
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << runFirst;
        EXPECT_EQ(runs, runFirst ? 1 : 0);
        EXPECT_TRUE(WaitFor([&]() { return ThreadCount() == threads; }, kPatience));
    }
}

TEST(Timer, PauseStartsWhenTheCallbackHasReturned)
{
    constexpr int kWorkMs = 60;
    constexpr uint32_t kPeriodMs = 40;
    std::mutex mutex;
    std::vector<Clock::time_point> starts;
    CTimer timer([&]() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            starts.push_back(Clock::now());
        }
        std::this_thread::sleep_for(milliseconds(kWorkMs));
    });
    timer.Start(kPeriodMs, true);
    ASSERT_TRUE(WaitFor(
        [&]() {
            std::lock_guard<std::mutex> lock(mutex);
            return starts.size() >= 3;
        },
        kPatience));
    timer.Stop();

    std::lock_guard<std::mutex> lock(mutex);
    for (std::size_t i = 1; i < starts.size(); ++i) {
        EXPECT_GE(starts[i] - starts[i - 1], milliseconds(kWorkMs + kPeriodMs)) << "before run " << i + 1;
    }
}

TEST(Timer, StopWaitsForARunningCallbackWhichThenDoesNotRunAgain)
{
    std::atomic<int> runs{0};
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    CTimer timer([&]() {
        if (++runs == 1) {
            entered.set_value();
            released.wait_for(kPatience);
        }
    });
    timer.Start(10, true);
    ASSERT_EQ(entered.get_future().wait_for(kPatience), std::future_status::ready);

    auto stopped = std::async(std::launch::async, [&]() { timer.Stop(); });
    EXPECT_EQ(stopped.wait_for(milliseconds(100)), std::future_status::timeout);
    release.set_value();
    ASSERT_EQ(stopped.wait_for(kPatience), std::future_status::ready);
    EXPECT_EQ(runs, 1);
}

// A callback that does not return holds no stop for ever: Stop gives up at its deadline and
// says so, and the thread is joined later, once it has ended.
TEST(Timer, StopGivesUpAtItsDeadlineAndTheThreadIsJoinedWhenItEnds)
{
    testsupport::LogCapture log;
    const int threads = testsupport::BaselineThreadCount();
    std::promise<void> entered;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    CTimer timer([&]() {
        entered.set_value();
        released.wait_for(kPatience);
    });
    timer.Start(60000, true);
    ASSERT_EQ(entered.get_future().wait_for(kPatience), std::future_status::ready);
    const auto start = Clock::now();
    EXPECT_FALSE(timer.Stop(50));
    EXPECT_GE(Clock::now() - start, milliseconds(50));
    EXPECT_TRUE(log.HasLine(5, "[iobox::CTimer::Stop]timer thread still running 50 ms after its stop, left to end by itself",
                            "src/Common/Timer.cpp"))
        << log.Dump();
    EXPECT_EQ(CTimer::JoinSelfStopped(0), 1u); // only those that have ended: this one is kept
    EXPECT_EQ(ThreadCount(), threads + 1);
    release.set_value();
    EXPECT_EQ(CTimer::JoinSelfStopped(5000), 0u);
    EXPECT_EQ(testsupport::ThreadCountSettledAt(threads), threads);
}

TEST(Timer, AThrowingCallbackIsLoggedAndDestroyingTheTimerEndsItsThread)
{
    testsupport::LogCapture log;
    const int threads = testsupport::BaselineThreadCount();
    std::atomic<int> runs{0};
    {
        CTimer timer([&]() {
            if (++runs == 1) {
                throw std::runtime_error("boom");
            }
        });
        timer.Start(5, true);
        ASSERT_TRUE(WaitFor([&]() { return runs >= 3; }, kPatience));
    }
    EXPECT_TRUE(WaitFor([&]() { return ThreadCount() == threads; }, kPatience));
    const int after = runs;
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(runs, after);
    EXPECT_TRUE(log.HasLine(5, "[iobox::CTimer::Run]timer callback failed: boom", "src/Common/Timer.cpp")) << log.Dump();
}

TEST(Timer, TimerWhoseLastOwnerIsItsOwnCallbackEndsCleanly)
{
    const int threads = testsupport::BaselineThreadCount();
    std::atomic<int> runs{0};
    std::mutex mutex;
    std::shared_ptr<CTimer> timer;
    {
        std::lock_guard<std::mutex> lock(mutex);
        timer = std::make_shared<CTimer>([&]() {
            ++runs;
            std::shared_ptr<CTimer> last;
            {
                std::lock_guard<std::mutex> inner(mutex);
                last = std::move(timer);
            }
            last.reset(); // the timer is destroyed on its own thread
        });
        timer->Start(5, true);
    }
    ASSERT_TRUE(WaitFor([&]() { return ThreadCount() == threads && runs == 1; }, kPatience));
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(runs, 1);
    std::lock_guard<std::mutex> lock(mutex); // the callback moved it out under this lock
    EXPECT_EQ(timer, nullptr);
}

} // namespace
