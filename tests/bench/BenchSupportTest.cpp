#include <gtest/gtest.h>

#include <pthread.h>

#include <chrono>
#include <future>
#include <thread>
#include <string>
#include <vector>

#include "support/PollTiming.h"
#include "support/System.h"
#include "support/Stats.h"

namespace {

using std::chrono::milliseconds;

std::vector<double> OneTo(int n)
{
    std::vector<double> v;
    for (int i = n; i >= 1; --i) {
        v.push_back(i); // descending: the functions must not rely on order
    }
    return v;
}

TEST(BenchStats, PercentilesAreNearestRank)
{
    const struct {
        std::vector<double> samples;
        double fraction;
        double expected;
    } cases[] = {
        {OneTo(100), 0.5, 50},  {OneTo(100), 0.99, 99}, {OneTo(100), 1.0, 100}, {OneTo(100), 0.0, 1},
        {OneTo(100), 0.001, 1}, {OneTo(10), 0.99, 10},  {OneTo(10), 0.5, 5},    {{7.5}, 0.99, 7.5},
        {{}, 0.5, 0},           {OneTo(4), 1.7, 4},     {OneTo(4), -1, 1},      {{3, 1, 2}, 0.5, 2},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(bench::Percentile(c.samples, c.fraction), c.expected)
            << c.samples.size() << " samples at " << c.fraction;
    }
}

TEST(BenchStats, SummaryAndRatio)
{
    std::vector<double> samples = OneTo(200);
    samples.push_back(10000); // one outlier moves the mean and the maximum, not the median
    const bench::Summary s = bench::Summarize(samples);
    EXPECT_EQ(s.count, 201u);
    EXPECT_DOUBLE_EQ(s.min, 1);
    EXPECT_DOUBLE_EQ(s.max, 10000);
    EXPECT_DOUBLE_EQ(s.median, 101);
    EXPECT_DOUBLE_EQ(s.p99, 199);
    EXPECT_NEAR(s.mean, (200.0 * 201 / 2 + 10000) / 201, 1e-9);
    EXPECT_EQ(bench::Summarize({}).count, 0u);

    EXPECT_DOUBLE_EQ(bench::Ratio(3, 2), 1.5);
    EXPECT_DOUBLE_EQ(bench::Ratio(3, 0), 0);
    EXPECT_DOUBLE_EQ(bench::Ratio(3, -1), 0);
}

TEST(BenchStats, TablesPadEveryColumnToItsWidestCell)
{
    bench::Table table({"client", "us"});
    table.AddRow({"libmodbus", "8.1"});
    table.AddRow({"raw", "12345.0", "extra"});
    EXPECT_EQ(table.Render(),
              "| client    | us      |       |\n"
              "|-----------|---------|-------|\n"
              "| libmodbus | 8.1     |       |\n"
              "| raw       | 12345.0 | extra |\n");
    EXPECT_EQ(bench::Format("%d/%.1f", 3, 2.25), "3/2.2");
    EXPECT_EQ(bench::Format("%s", std::string(600, 'x').c_str()).size(), 511u);
}

// Polls every `period` ms from `first`, with the listed changes to single intervals.
std::vector<double> Polls(double first, double period, int count, std::vector<std::pair<int, double>> shifts = {})
{
    std::vector<double> times;
    double t = first;
    for (int i = 0; i < count; ++i) {
        for (const auto& shift : shifts) {
            if (shift.first == i) {
                t += shift.second;
            }
        }
        times.push_back(t);
        t += period;
    }
    return times;
}

TEST(BenchPollTiming, CountsMissingLateAndEarlyPollsInsideTheWindow)
{
    // Window (10000, 40000], period 5000, allowance 100.
    const struct {
        const char* name;
        std::vector<double> polls;
        std::size_t seen, expected, missing, intervals, late, early;
        double maxLateness;
    } cases[] = {
        {"on time", Polls(1000, 5000, 9), 6, 6, 0, 6, 0, 0, 0},
        {"a little after the period, as the exchange takes", Polls(1000, 5001, 9), 6, 6, 0, 6, 0, 0, 1},
        {"one poll 300 ms late", Polls(1000, 5000, 9, {{4, 300}}), 6, 6, 0, 6, 1, 0, 300},
        {"late within the allowance", Polls(1000, 5000, 9, {{4, 100}}), 6, 6, 0, 6, 0, 0, 100},
        {"one poll skipped", Polls(1000, 5000, 8, {{4, 5000}}), 5, 6, 1, 5, 1, 0, 5000},
        {"pause cut short", Polls(1000, 5000, 9, {{4, -10}}), 6, 6, 0, 6, 0, 1, 0},
        {"no polls at all", {}, 0, 5, 5, 0, 0, 0, 0},
        {"stopped half way", Polls(1000, 5000, 5), 3, 6, 3, 3, 0, 0, 0},
        // First poll inside the window: nothing before it to measure an interval from.
        {"first poll inside the window", Polls(12000, 5000, 6), 6, 5, 0, 5, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const bench::PollCheck check = bench::CheckPolls({c.polls}, 10000, 40000, 5000, 100);
        EXPECT_EQ(check.devices, 1u) << c.name;
        EXPECT_EQ(check.seen, c.seen) << c.name;
        EXPECT_EQ(check.expected, c.expected) << c.name;
        EXPECT_EQ(check.missing, c.missing) << c.name;
        EXPECT_EQ(check.intervals, c.intervals) << c.name;
        EXPECT_EQ(check.late, c.late) << c.name;
        EXPECT_EQ(check.early, c.early) << c.name;
        EXPECT_NEAR(check.maxLatenessMs, c.maxLateness, 1e-9) << c.name;
    }
}

TEST(BenchPollTiming, DevicesAddUp)
{
    const bench::PollCheck check = bench::CheckPolls(
        {Polls(1000, 5000, 9), Polls(3500, 5000, 8, {{3, 400}}), {}}, 10000, 40000, 5000, 100);
    EXPECT_EQ(check.devices, 3u);
    EXPECT_EQ(check.seen, 6u + 6u);
    EXPECT_EQ(check.expected, 6u + 6u + 5u);
    EXPECT_EQ(check.missing, 5u);
    EXPECT_EQ(check.late, 1u);
    EXPECT_NEAR(check.maxLatenessMs, 400, 1e-9);
    EXPECT_NEAR(check.minIntervalMs, 5000, 1e-9);
}

TEST(BenchProcess, ChildrenAreReadStoppedAndReapedByPid)
{
    std::string error;
    auto talker = bench::ChildProcess::Start({"/bin/sh", "-c", "echo hello; echo port 4242; exit 3"}, -1, error);
    ASSERT_TRUE(talker) << error;
    std::string rest;
    ASSERT_TRUE(talker->WaitForLine("port ", rest, milliseconds(5000)));
    EXPECT_EQ(rest, "4242");
    EXPECT_EQ(talker->Wait(milliseconds(5000)), 3);
    EXPECT_FALSE(talker->ReadLine(rest, milliseconds(1000))); // its output has ended

    auto sleeper = bench::ChildProcess::Start({"/bin/sh", "-c", "echo ready; exec sleep 30"}, 0, error);
    ASSERT_TRUE(sleeper) << error;
    ASSERT_TRUE(sleeper->WaitForLine("ready", rest, milliseconds(5000)));
    EXPECT_EQ(sleeper->Wait(milliseconds(50)), -1); // still running
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sleeper->Stop(), 128 + 15); // ended by SIGTERM, long before its 30 s
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    auto missing = bench::ChildProcess::Start({"/nonexistent/program"}, -1, error);
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->Wait(milliseconds(5000)), 127);

    EXPECT_TRUE(bench::PinToCpu(-1));
    EXPECT_FALSE(bench::PinToCpu(1000));
    EXPECT_FALSE(bench::PinToCpu(100000));
}

TEST(BenchProcess, ProbesDescribeThisProcess)
{
    EXPECT_GE(bench::HighestDescriptor(), 2);
    EXPECT_GE(bench::RaiseDescriptorLimit(), 1024);
    EXPECT_NE(bench::SelfPath().find("bench_support_tests"), std::string::npos);
    const double cpu0 = bench::CpuSeconds();
    volatile double x = 0;
    for (int i = 0; i < 20000000 && bench::CpuSeconds() - cpu0 < 0.02; ++i) {
        x = x + i;
    }
    EXPECT_GT(bench::CpuSeconds(), cpu0);
}

TEST(BenchProcess, ThreadCpuIsSplitByThreadName)
{
    std::promise<void> burnt;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::thread thread([&burnt, released]() {
        pthread_setname_np(pthread_self(), "bench-burner");
        const double start = bench::CpuSeconds();
        volatile double x = 0;
        for (long i = 0; i < 2000000000L && bench::CpuSeconds() - start < 0.05; ++i) {
            x = x + 1;
        }
        burnt.set_value();
        released.wait_for(std::chrono::seconds(10)); // stays listed until measured
    });
    burnt.get_future().wait();
    const double burner = bench::ThreadCpuSeconds("bench-burner", true);
    const double others = bench::ThreadCpuSeconds("bench-burner", false);
    release.set_value();
    thread.join();
    EXPECT_GE(burner, 0.04);
    EXPECT_LT(burner, 5.0);
    EXPECT_GT(others, 0.0); // this thread, at least
    EXPECT_EQ(bench::ThreadCpuSeconds("no thread is called this", true), 0.0);
}

} // namespace
