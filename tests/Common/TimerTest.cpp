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

// Threads of the process once any helper thread of the run-time (ThreadSanitizer starts one
// with the first thread) exists, so that differences count only the timer's thread.
int BaselineThreads()
{
    std::thread([]() {}).join();
    return ThreadCount();
}

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<milliseconds>(Clock::now() - start).count();
}

class TimerNoPeriod : public ::testing::TestWithParam<uint32_t> {};

TEST_P(TimerNoPeriod, StartsNoThread)
{
    std::atomic<int> runs{0};
    const int threads = BaselineThreads();
    CTimer timer([&]() { ++runs; });
    timer.Start(GetParam(), true);
    EXPECT_EQ(ThreadCount(), threads);
    timer.Stop();
    EXPECT_EQ(runs, 0);
}

INSTANTIATE_TEST_SUITE_P(Periods, TimerNoPeriod, ::testing::Values(0U, 0xFFFFFFFFU));

TEST(Timer, RunFirstRunsAtOnceAndStopEndsTheLongPause)
{
    std::atomic<int> runs{0};
    CTimer timer([&]() { ++runs; });
    timer.Start(60000, true);
    ASSERT_TRUE(WaitFor([&]() { return runs == 1; }, kPatience));

    const auto start = Clock::now();
    timer.Stop();
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(runs, 1);
}

TEST(Timer, WithoutRunFirstNothingRunsBeforeThePauseEnds)
{
    std::atomic<int> runs{0};
    const int threads = BaselineThreads();
    CTimer timer([&]() { ++runs; });
    timer.Start(60000, false);
    EXPECT_EQ(ThreadCount(), threads + 1);

    const auto start = Clock::now();
    timer.Stop();
    EXPECT_LT(MsSince(start), 2000);
    EXPECT_EQ(runs, 0);
    EXPECT_TRUE(WaitFor([&]() { return ThreadCount() == threads; }, kPatience));
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
            return starts.size() >= 4;
        },
        kPatience));
    timer.Stop();

    std::lock_guard<std::mutex> lock(mutex);
    for (std::size_t i = 1; i < starts.size(); ++i) {
        EXPECT_GE(std::chrono::duration_cast<milliseconds>(starts[i] - starts[i - 1]).count(), kWorkMs + kPeriodMs)
            << "between run " << i << " and " << i + 1;
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

TEST(Timer, EmptyCallbackKeepsTheThreadPausingUntilStop)
{
    const int threads = BaselineThreads();
    CTimer timer{std::function<void()>()};
    timer.Start(5, true);
    EXPECT_EQ(ThreadCount(), threads + 1);
    std::this_thread::sleep_for(milliseconds(30));
    EXPECT_EQ(ThreadCount(), threads + 1);
    timer.Stop();
    EXPECT_TRUE(WaitFor([&]() { return ThreadCount() == threads; }, kPatience));
}

TEST(Timer, CallbackThatThrowsIsLoggedAndTheTimerGoesOn)
{
    testsupport::LogCapture log;
    std::atomic<int> runs{0};
    CTimer timer([&]() {
        if (++runs == 1) {
            throw std::runtime_error("boom");
        }
    });
    timer.Start(5, true);
    EXPECT_TRUE(WaitFor([&]() { return runs >= 3; }, kPatience));
    timer.Stop();
    EXPECT_TRUE(log.HasLine(5, "[iobox::CTimer::Run]timer callback failed: boom", "src/Common/Timer.cpp")) << log.Dump();
}

TEST(Timer, DestroyingARunningTimerEndsItsThread)
{
    const int threads = BaselineThreads();
    std::atomic<int> runs{0};
    {
        CTimer timer([&]() { ++runs; });
        timer.Start(5, true);
        ASSERT_TRUE(WaitFor([&]() { return runs >= 2; }, kPatience));
    }
    EXPECT_TRUE(WaitFor([&]() { return ThreadCount() == threads; }, kPatience));
    const int after = runs;
    std::this_thread::sleep_for(milliseconds(20));
    EXPECT_EQ(runs, after);
}

TEST(Timer, TimerWhoseLastOwnerIsItsOwnCallbackEndsCleanly)
{
    const int threads = BaselineThreads();
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
    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(timer, nullptr);
}

} // namespace
